#include "amfrt/encoder_choice.h"

#include <string>

#include "amfrt/av_encoder.h"
#include "amfrt/vaapi_encoder.h"
#include "platform/d3d11.h"

namespace corvantis::amfrt {

AMF_RESULT OpenFrameEncoder(amf::AMFContext* context, const EncoderSettings& settings, int width,
                            int height, std::unique_ptr<FrameEncoder>* out) {
  const auto* device =
      context != nullptr ? static_cast<const ID3D11Device*>(context->GetDX11Device(amf::AMF_DX11_0))
                         : nullptr;
  const std::string node = device != nullptr ? device->RenderNodePath() : "";
  if (!node.empty()) return VaapiEncoder::Open(settings, node, width, height, out);
  std::unique_ptr<AvEncoder> cpu;
  const AMF_RESULT result = AvEncoder::Open(settings, width, height, &cpu);
  *out = std::move(cpu);
  return result;
}

}  // namespace corvantis::amfrt
