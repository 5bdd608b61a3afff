#include "platform/format_text.h"

#include <locale.h>
#include <algorithm>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace corvantis {

namespace {

constexpr std::size_t kBufferChars = 8192;

// Rewrites the string and character conversions; `wideDefault` says what an unmarked %s takes.
template <typename Char>
std::basic_string<Char> Translate(const Char* format, bool wideDefault) {
  std::basic_string<Char> out;
  for (const Char* p = format; *p;) {
    if (*p != '%') {
      out.push_back(*p++);
      continue;
    }
    out.push_back(*p++);
    if (*p == '%') {
      out.push_back(*p++);
      continue;
    }
    // flags, width, precision
    while (*p && (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0' || *p == '*' ||
                  *p == '.' || (*p >= '1' && *p <= '9')))
      out.push_back(*p++);
    // Microsoft length modifiers
    enum class Width { Default, Narrow, Wide } width = Width::Default;
    std::basic_string<Char> length;
    if (*p == 'h' && (p[1] == 's' || p[1] == 'c' || p[1] == 'S' || p[1] == 'C')) {
      width = Width::Narrow;
      ++p;
    } else if ((*p == 'l' || *p == 'w') &&
               (p[1] == 's' || p[1] == 'c' || p[1] == 'S' || p[1] == 'C')) {
      width = Width::Wide;
      ++p;
    } else if (*p == 'I' && p[1] == '6' && p[2] == '4') {
      length = {Char('l'), Char('l')};
      p += 3;
    } else if (*p == 'I' && p[1] == '3' && p[2] == '2') {
      p += 3;
    } else {
      while (*p == 'h' || *p == 'l' || *p == 'z' || *p == 'j' || *p == 't' || *p == 'L' ||
             *p == 'q')
        length.push_back(*p++);
    }
    if (*p == 0) break;
    Char conv = *p++;
    if (conv == 's' || conv == 'c' || conv == 'S' || conv == 'C') {
      const bool upper = conv == 'S' || conv == 'C';
      bool wide;
      if (width == Width::Narrow)
        wide = false;
      else if (width == Width::Wide)
        wide = true;
      else
        wide = upper ? !wideDefault : wideDefault;
      if (wide) out.push_back('l');
      out.push_back(conv == 's' || conv == 'S' ? Char('s') : Char('c'));
    } else {
      out += length;
      out.push_back(conv);
    }
  }
  return out;
}

// Formatting runs with a UTF-8 character type whatever the process locale, so that wide and narrow
// arguments convert; numbers keep the "C" full stop.
class Utf8CtypeScope {
 public:
  Utf8CtypeScope() {
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8) previous_ = uselocale(utf8);
  }
  ~Utf8CtypeScope() {
    if (previous_) uselocale(previous_);
  }

 private:
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

}  // namespace

// The formats reaching vsnprintf and vswprintf are the callers' own, rewritten above.
#pragma GCC diagnostic ignored "-Wformat-nonliteral"

std::string TranslateNarrowFormat(const char* format) { return Translate(format, false); }
std::wstring TranslateWideFormat(const wchar_t* format) { return Translate(format, true); }

std::string FormatNarrow(const char* format, ...) {
  const std::string translated = TranslateNarrowFormat(format);
  Utf8CtypeScope scope;
  char buffer[kBufferChars];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, translated.c_str(), args);
  va_end(args);
  if (n < 0) return {};
  return std::string(buffer, std::min<std::size_t>(static_cast<std::size_t>(n), kBufferChars - 1));
}

std::wstring FormatWideList(std::size_t limit, const wchar_t* format, va_list args) {
  if (limit == 0) return {};
  const std::wstring translated = TranslateWideFormat(format);
  Utf8CtypeScope scope;
  std::wstring buffer(limit, L'\0');
  va_list retry;
  va_copy(retry, args);
  int n = std::vswprintf(buffer.data(), buffer.size(), translated.c_str(), args);
  if (n < 0) {
    // vswprintf fails alike for a text too long and for a bad argument; a memory stream takes
    // any length and fails only for the second.
    wchar_t* whole = nullptr;
    std::size_t wholeChars = 0;
    if (std::FILE* stream = open_wmemstream(&whole, &wholeChars)) {
      n = std::vfwprintf(stream, translated.c_str(), retry);
      std::fclose(stream);
      if (n >= 0) buffer.assign(whole, std::min(wholeChars, limit - 1));
      std::free(whole);
    }
  }
  va_end(retry);
  if (n < 0) return {};
  buffer.resize(std::min<std::size_t>(static_cast<std::size_t>(n), limit - 1));
  return buffer;
}

std::wstring FormatWide(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatWideList(kBufferChars, format, args);
  va_end(args);
  return text;
}

}  // namespace corvantis
