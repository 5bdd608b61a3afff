#include "debug_capture/child_command_line.h"

#include "platform/option_syntax.h"

namespace corvantis {

std::int32_t StrToIntDecimal(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(text[i] - L'0');
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

std::optional<ChildCommandLine> RecognizeChildCommandLine(
    const std::vector<std::wstring>& arguments) {
  ChildCommandLine request;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::wstring name, value;
    if (!SplitArgument(arguments[i], name, value)) continue;
    if (name == L"DisableDebugOutput") {
      request.DisableDebugOutput = 1;
      continue;
    }
    if (name != L"ParentProcessDebug") continue;
    if (i + 1 >= arguments.size()) return std::nullopt;
    request.ParentId = static_cast<std::uint32_t>(StrToIntDecimal(arguments[i + 1]));
    if (request.ParentId == 0) return std::nullopt;
    if (i + 2 < arguments.size()) request.DumpType = StrToIntDecimal(arguments[i + 2]);
    if (i + 3 < arguments.size()) request.EventFd = StrToIntDecimal(arguments[i + 3]);
    return request;
  }
  return std::nullopt;
}

}  // namespace corvantis
