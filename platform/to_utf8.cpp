#include <optional>

#include "platform/hresult_error.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis {

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  std::optional<std::string> utf8 = WideToUtf8Strict(text);
  if (!utf8 || utf8->empty())
    throw hresult_error(HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
                        L"No mapping for the Unicode character exists in the target code page.");
  return *utf8;
}

}  // namespace corvantis
