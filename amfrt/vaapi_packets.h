#pragma once
#include <cstdint>
#include <span>

#include "amfrt/encoder_settings.h"

namespace corvantis::amfrt {

// The AVPictureType of a VA-API encoder's packet, which libavcodec does not report: I for a key
// packet; for AVC the first slice's slice_type; P otherwise (the HEVC encoder has no B-frames
// here).
int VaapiPictureType(Codec codec, std::span<const std::uint8_t> packet, bool key);

}  // namespace corvantis::amfrt
