#include "amfrt/vaapi_vpp.h"

#include <va/va_vpp.h>

namespace corvantis::amfrt {
namespace {

bool Check(VAStatus status, const char* call, std::string* error) {
  if (status == VA_STATUS_SUCCESS) return true;
  *error = std::string(call) + ": " + vaErrorStr(status);
  return false;
}

}  // namespace

std::unique_ptr<VaapiVpp> VaapiVpp::Create(VADisplay display, int width, int height,
                                           std::string* error) {
  VAConfigID config = VA_INVALID_ID;
  if (!Check(vaCreateConfig(display, VAProfileNone, VAEntrypointVideoProc, nullptr, 0, &config),
             "vaCreateConfig", error))
    return nullptr;
  // The output surfaces come from a pool that grows on demand, so none are named here.
  VAContextID context = VA_INVALID_ID;
  if (!Check(vaCreateContext(display, config, width, height, VA_PROGRESSIVE, nullptr, 0, &context),
             "vaCreateContext", error)) {
    vaDestroyConfig(display, config);
    return nullptr;
  }
  return std::unique_ptr<VaapiVpp>(new VaapiVpp(display, config, context));
}

VaapiVpp::~VaapiVpp() {
  vaDestroyContext(display_, context_);
  vaDestroyConfig(display_, config_);
}

bool VaapiVpp::Convert(VASurfaceID bgra, VASurfaceID nv12, std::string* error) {
  VAProcPipelineParameterBuffer pipeline{};
  pipeline.surface = bgra;
  pipeline.surface_color_standard = VAProcColorStandardSRGB;
  pipeline.output_background_color = 0xFF000000;
  pipeline.output_color_standard = VAProcColorStandardBT601;
  pipeline.input_color_properties.color_range = VA_SOURCE_RANGE_FULL;
  pipeline.output_color_properties.color_range = VA_SOURCE_RANGE_REDUCED;
  pipeline.filter_flags = VA_FRAME_PICTURE;

  VABufferID buffer = VA_INVALID_ID;
  if (!Check(vaCreateBuffer(display_, context_, VAProcPipelineParameterBufferType, sizeof pipeline,
                            1, &pipeline, &buffer),
             "vaCreateBuffer", error))
    return false;
  bool ok = Check(vaBeginPicture(display_, context_, nv12), "vaBeginPicture", error);
  if (ok) {
    ok = Check(vaRenderPicture(display_, context_, &buffer, 1), "vaRenderPicture", error);
    // vaEndPicture also after a failed render, so that the context is ready for the next picture.
    std::string unused;
    const bool ended =
        Check(vaEndPicture(display_, context_), "vaEndPicture", ok ? error : &unused);
    ok = ok && ended;
  }
  vaDestroyBuffer(display_, buffer);
  return ok && Check(vaSyncSurface(display_, nv12), "vaSyncSurface", error);
}

}  // namespace corvantis::amfrt
