#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

namespace corvantis {

// printf-style formatting into an 8192-character buffer, with the Microsoft conversions: in
// FormatWide "%s" takes a wide string and "%hs" a narrow one; in FormatNarrow "%s" is narrow and
// "%S"/"%ls" wide. Numbers always use a full stop. Text longer than 8191 characters is cut.
std::string FormatNarrow(const char* format, ...);
std::wstring FormatWide(const wchar_t* format, ...);
// FormatWide over a va_list, cut to `limit` - 1 characters (limit at least 1). Empty for a format
// or an argument that cannot be formatted.
std::wstring FormatWideList(std::size_t limit, const wchar_t* format, va_list args);

// The format rewritten for glibc's printf family (exposed for tests).
std::string TranslateNarrowFormat(const char* format);
std::wstring TranslateWideFormat(const wchar_t* format);

}  // namespace corvantis
