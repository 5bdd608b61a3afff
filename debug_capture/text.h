#pragma once
#include <string>
#include <vector>

namespace corvantis {

// printf-style wide formatting with the Microsoft conversions ("%s" wide, "%hs" narrow) into
// 4096 characters; a longer text is cut to 4095. A format or argument that cannot be
// formatted gives an empty text.
std::wstring FormatText(const wchar_t* format, ...);

// The parts joined with `separator` between them; "" for none.
std::wstring JoinText(const std::vector<std::wstring>& parts, const wchar_t* separator);

// `text` without its trailing TABs, LFs, CRs, blanks and full stops.
std::wstring TrimTrailing(std::wstring text);

}  // namespace corvantis
