#pragma once
#include <string>
#include <string_view>

namespace corvantis {

// Line-oriented text output. A line ends with "\n" and a flush so that lines of the benchmark and
// of its debugger relay interleave whole on a shared stream.
class Console {
 public:
  virtual ~Console() = default;
  virtual void Write(std::wstring_view text) = 0;
  virtual void Flush() = 0;

  void WriteLine(std::wstring_view text) {
    Write(text);
    EndLine();
  }
  void EndLine() {
    Write(L"\n");
    Flush();
  }
};

// The process's standard output and error, as UTF-8 (or whatever a test installed).
Console& StdOut();
Console& StdErr();

// Collects text in memory; tests install it in place of a standard stream.
class StringConsole : public Console {
 public:
  void Write(std::wstring_view text) override { text_.append(text); }
  void Flush() override { ++flushes_; }
  const std::wstring& Text() const { return text_; }
  int Flushes() const { return flushes_; }

 private:
  std::wstring text_;
  int flushes_ = 0;
};

// Routes StdOut() (or StdErr()) to another console for its lifetime.
class ScopedConsoleRedirect {
 public:
  enum class Stream { Out, Err };
  explicit ScopedConsoleRedirect(Console& target, Stream stream = Stream::Out);
  ~ScopedConsoleRedirect();
  ScopedConsoleRedirect(const ScopedConsoleRedirect&) = delete;
  ScopedConsoleRedirect& operator=(const ScopedConsoleRedirect&) = delete;

 private:
  Stream stream_;
  Console* previous_;
};

}  // namespace corvantis
