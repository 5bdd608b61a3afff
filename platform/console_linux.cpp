#include <atomic>
#include <cstdio>

#include "platform/console.h"
#include "platform/utf.h"

namespace corvantis {

namespace {

class FileConsole final : public Console {
 public:
  explicit FileConsole(std::FILE* file) : file_(file) {}
  void Write(std::wstring_view text) override {
    const std::string bytes = WideToUtf8Lossy(text);
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
  }
  void Flush() override { std::fflush(file_); }

 private:
  std::FILE* file_;
};

FileConsole& StandardOut() {
  static FileConsole console(stdout);
  return console;
}
FileConsole& StandardErr() {
  static FileConsole console(stderr);
  return console;
}

std::atomic<Console*> g_out{nullptr};
std::atomic<Console*> g_err{nullptr};

}  // namespace

Console& StdOut() {
  Console* c = g_out.load();
  return c ? *c : StandardOut();
}

Console& StdErr() {
  Console* c = g_err.load();
  return c ? *c : StandardErr();
}

ScopedConsoleRedirect::ScopedConsoleRedirect(Console& target, Stream stream)
    : stream_(stream), previous_((stream == Stream::Out ? g_out : g_err).exchange(&target)) {}

ScopedConsoleRedirect::~ScopedConsoleRedirect() {
  (stream_ == Stream::Out ? g_out : g_err).store(previous_);
}

}  // namespace corvantis
