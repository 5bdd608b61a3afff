#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvantis {

// What " -ParentProcessDebug %u %u %u" (and a "-DisableDebugOutput" before it) asks for.
struct ChildCommandLine {
  std::int32_t DisableDebugOutput = 0;
  std::uint32_t ParentId = 0;
  std::int32_t DumpType = 0;  // 0 when missing
  int EventFd = -1;           // -1 when missing
};

// The child role's request in an argument list (option names compared with case); nothing
// when "ParentProcessDebug" is absent or its parent id is missing, zero or not a number.
std::optional<ChildCommandLine> RecognizeChildCommandLine(
    const std::vector<std::wstring>& arguments);

// The number StrToIntExW reads without its hexadecimal flag: leading blanks, an optional sign,
// decimal digits up to the first other character, low 32 bits; 0 when there are no digits.
std::int32_t StrToIntDecimal(const std::wstring& text);

}  // namespace corvantis
