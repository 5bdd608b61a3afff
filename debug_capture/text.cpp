#include "debug_capture/text.h"

#include <locale.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <cstddef>

#include "amf/format_text.h"

namespace {

constexpr std::size_t kFormatChars = 4096;

// Narrow arguments convert through the character type, which must be UTF-8 whatever the
// process locale is.
class Utf8CtypeScope {
 public:
  Utf8CtypeScope() {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (utf8) previous_ = uselocale(utf8);
  }
  ~Utf8CtypeScope() {
    if (previous_) uselocale(previous_);
  }
  Utf8CtypeScope(const Utf8CtypeScope&) = delete;
  Utf8CtypeScope& operator=(const Utf8CtypeScope&) = delete;

 private:
  locale_t previous_ = static_cast<locale_t>(nullptr);
};

}  // namespace

std::wstring FormatText(const wchar_t* format, ...) {
  const std::wstring translated = TranslateWideFormat(format);
  Utf8CtypeScope scope;
  std::wstring buffer(kFormatChars, L'\0');
  va_list args;
  va_start(args, format);
  va_list retry;
  va_copy(retry, args);
  int n = std::vswprintf(buffer.data(), buffer.size(), translated.c_str(), args);
  va_end(args);
  if (n < 0) {
    // vswprintf fails alike for a text too long and for a bad argument, and leaves the buffer
    // unterminated: a buffer larger than any text the program formats tells the two apart.
    buffer.assign(std::size_t{1} << 16, L'\0');
    n = std::vswprintf(buffer.data(), buffer.size(), translated.c_str(), retry);
    if (n < 0) n = 0;
  }
  va_end(retry);
  buffer.resize(std::min(static_cast<std::size_t>(n), kFormatChars - 1));
  return buffer;
}

std::wstring JoinText(const std::vector<std::wstring>& parts, const wchar_t* separator) {
  std::wstring joined;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) joined += separator;
    joined += parts[i];
  }
  return joined;
}

std::wstring TrimTrailing(std::wstring text) {
  const auto end = text.find_last_not_of(L"\t\n\r .");
  text.erase(end == std::wstring::npos ? 0 : end + 1);
  return text;
}
