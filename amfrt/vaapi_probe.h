#pragma once
#include <va/va.h>

#include "amfrt/vaapi_options.h"

namespace corvantis::amfrt {

// What the driver behind `display` offers for encoding `profile` (entry points, rate control,
// quality levels, size limits, references) and whether its video processor converts BGRA.
VaapiCapabilities ProbeVaapi(VADisplay display, VAProfile profile);

}  // namespace corvantis::amfrt
