#pragma once
#include <string>

#include "platform/hresult.h"

namespace corvantis {

// Reports an error's origin to an attached debugger: the originate-error event (0x40080201) with
// [0] the HRESULT, [1] the message length in UTF-16 units, [2] the address of a UTF-16 copy of the
// message (terminated). Nothing happens without a debugger. Fits SetErrorOriginHook.
void RoOriginateLanguageException(HRESULT error, const std::wstring& message);

}  // namespace corvantis
