#pragma once
#include <string>

#include "platform/hresult.h"

namespace corvantis {

// The text Windows gives for a common HRESULT (e.g. 0x80070070 "There is not enough space on
// the disk."); empty for codes it has no text for, such as the encoder runtime's.
std::wstring SystemMessage(HRESULT code);

}  // namespace corvantis
