#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace corvantis {

// Wide strings are UTF-32 here. Invalid code points (surrogates, above U+10FFFF) become U+FFFD.
std::string WideToUtf8Lossy(std::wstring_view text);

// Strict conversion; nothing when the text holds an invalid code point.
std::optional<std::string> WideToUtf8Strict(std::wstring_view text);

// UTF-8 of a wide text; raises hresult_error ERROR_NO_UNICODE_TRANSLATION for an invalid code
// point. Lives in the platform library, not beside the other conversions, as it raises.
std::string ToUtf8(const std::wstring& text);

// Malformed UTF-8 becomes U+FFFD, one per maximal invalid subsequence.
std::wstring Utf8ToWide(std::string_view text);

// UTF-16 code units (another process's memory) to wide text; unpaired surrogates become U+FFFD.
std::wstring Utf16ToWide(std::u16string_view text);

// Wide text as UTF-16 code units, for a reader that expects Windows strings; invalid code points
// become U+FFFD.
std::u16string WideToUtf16(std::wstring_view text);

}  // namespace corvantis
