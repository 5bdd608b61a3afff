#include "amfrt/encoder_choice.h"

#include "amfrt/av_encoder.h"
#include "amfrt/vaapi_encoder.h"
#include "platform/d3d11.h"

namespace corvantis::amfrt {

AMF_RESULT OpenFrameEncoder(amf::AMFContext* context, const EncoderSettings& settings, int width,
                            int height, std::unique_ptr<FrameEncoder>* out) {
  auto* device = context != nullptr
                     ? static_cast<ID3D11Device*>(context->GetDX11Device(amf::AMF_DX11_0))
                     : nullptr;
  if (device != nullptr && *device->RenderNodePath() != '\0')
    return VaapiEncoder::Open(settings, device, width, height, out);
  std::unique_ptr<AvEncoder> cpu;
  const AMF_RESULT result = AvEncoder::Open(settings, width, height, &cpu);
  *out = std::move(cpu);
  return result;
}

}  // namespace corvantis::amfrt
