#include "platform/originate_error.h"

#include <cstdint>

#include "platform/debug_event.h"
#include "platform/debug_output.h"
#include "platform/utf.h"

namespace corvantis {

void RoOriginateLanguageException(HRESULT error, const std::wstring& message) {
  if (!DebuggerMayBePresent()) return;
  const std::u16string text = WideToUtf16(message);
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = EXCEPTION_RO_ORIGINATEERROR;
  record.ExceptionAddress = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  record.NumberParameters = 3;
  record.ExceptionInformation[0] = static_cast<std::uint32_t>(error);
  record.ExceptionInformation[1] = static_cast<std::uint32_t>(text.size());
  record.ExceptionInformation[2] = reinterpret_cast<std::uintptr_t>(text.c_str());
  RaiseDebugEvent(record);
}

}  // namespace corvantis
