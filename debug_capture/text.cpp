#include "debug_capture/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cwchar>

#include "platform/format_text.h"

namespace corvantis {

namespace {

constexpr std::size_t kFormatChars = 4096;

}  // namespace

std::wstring FormatText(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatWideList(kFormatChars, format, args);
  va_end(args);
  return text;
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

}  // namespace corvantis
