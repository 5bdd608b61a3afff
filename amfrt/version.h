#pragma once
#include "amf/api/result.h"

namespace corvantis::amfrt {

// The interface version this runtime implements; callers may ask for this one or an older 1.x.
inline constexpr amf::amf_uint64 kRuntimeVersion = amf::AMF_MAKE_FULL_VERSION(1, 4, 18, 0);

}  // namespace corvantis::amfrt
