#pragma once
#include <string>

// printf-style formatting into an 8192-character buffer, with the Microsoft conversions: in
// FormatWide "%s" takes a wide string and "%hs" a narrow one; in FormatNarrow "%s" is narrow and
// "%S"/"%ls" wide. Numbers always use a full stop. Text longer than 8191 characters is cut.
std::string FormatNarrow(const char* format, ...);
std::wstring FormatWide(const wchar_t* format, ...);

// The format rewritten for glibc's printf family (exposed for tests).
std::string TranslateNarrowFormat(const char* format);
std::wstring TranslateWideFormat(const wchar_t* format);
