#include "amfrt/vaapi_vpp.h"

#include <va/va_vpp.h>

#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace corvantis::amfrt {
namespace {

bool Check(VAStatus status, const char* call, std::string* error) {
  if (status == VA_STATUS_SUCCESS) return true;
  *error = std::string(call) + ": " + vaErrorStr(status);
  return false;
}

struct Rgb {
  double R, G, B;
};

constexpr Rgb kQuadrants[] = {{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};

struct Yuv {
  double Y, Cb, Cr;
};

Yuv Convert(Rgb c, VppColour colour) {
  const double kr = colour.Bt709 ? 0.2126 : 0.299;
  const double kb = colour.Bt709 ? 0.0722 : 0.114;
  const double r = c.R / 255, g = c.G / 255, b = c.B / 255;
  const double y = kr * r + (1 - kr - kb) * g + kb * b;
  const double cb = (b - y) / (2 * (1 - kb));
  const double cr = (r - y) / (2 * (1 - kr));
  if (colour.FullRange) return {255 * y, 128 + 255 * cb, 128 + 255 * cr};
  return {16 + 219 * y, 128 + 224 * cb, 128 + 224 * cr};
}

}  // namespace

void PaintColourPatch(std::uint8_t* bgra, int rowPitch) {
  constexpr int kHalf = kColourPatchSide / 2;
  for (int y = 0; y < kColourPatchSide; ++y)
    for (int x = 0; x < kColourPatchSide; ++x) {
      const Rgb c = kQuadrants[(y / kHalf) * 2 + x / kHalf];
      std::uint8_t* pixel = bgra + static_cast<std::ptrdiff_t>(y) * rowPitch + 4 * x;
      pixel[0] = static_cast<std::uint8_t>(c.B);
      pixel[1] = static_cast<std::uint8_t>(c.G);
      pixel[2] = static_cast<std::uint8_t>(c.R);
      pixel[3] = 255;
    }
}

std::optional<VppColour> RecogniseColour(const std::uint8_t* luma, int lumaPitch,
                                         const std::uint8_t* chroma, int chromaPitch) {
  // Within a rounding and a filter's spill of a limited-range step; the candidates' nearest
  // samples lie 10 or more apart.
  constexpr double kTolerance = 4.5;
  constexpr int kHalf = kColourPatchSide / 2;
  for (const VppColour candidate : {VppColour{false, false}, VppColour{true, false},
                                    VppColour{false, true}, VppColour{true, true}}) {
    bool all = true;
    for (int q = 0; q < 4 && all; ++q) {
      // The quadrant's centre, away from any edge a chroma filter would blur.
      const int x = (q % 2) * kHalf + kHalf / 2, y = (q / 2) * kHalf + kHalf / 2;
      const Yuv want = Convert(kQuadrants[q], candidate);
      const std::uint8_t* uv =
          chroma + static_cast<std::ptrdiff_t>(y / 2) * chromaPitch + x / 2 * 2;
      all = std::abs(luma[static_cast<std::ptrdiff_t>(y) * lumaPitch + x] - want.Y) <= kTolerance &&
            std::abs(uv[0] - want.Cb) <= kTolerance && std::abs(uv[1] - want.Cr) <= kTolerance;
    }
    if (all) return candidate;
  }
  return std::nullopt;
}

std::string ColourName(VppColour colour) {
  return std::string(colour.Bt709 ? "BT.709" : "BT.601") +
         (colour.FullRange ? " full range" : " limited range");
}

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
