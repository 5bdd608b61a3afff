#pragma once
#include <memory>

#include "amf/api/interfaces.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/frame_encoder.h"

namespace corvantis::amfrt {

// Opens the encoder for the device `context` was initialised with: VA-API on the render node a
// hardware adapter's device carries, libx264 / libx265 for the software adapter's device (or no
// device). A hardware device never gets a CPU encoder; its failures are the VA-API encoder's.
AMF_RESULT OpenFrameEncoder(amf::AMFContext* context, const EncoderSettings& settings, int width,
                            int height, std::unique_ptr<FrameEncoder>* out);

}  // namespace corvantis::amfrt
