#pragma once
#include <va/va.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace corvantis::amfrt {

// The matrix and range a video processor really applies. Mesa's converts with BT.709 limited
// whatever the pipeline asks (frontends/va/postproc.c vlVaPostProcBlit ->
// vl_compositor_convert_rgb_to_yuv); Intel's follows the pipeline.
struct VppColour {
  bool Bt709 = false;  // else BT.601
  bool FullRange = false;
};

// The side of the square BGRA test picture whose conversion tells the processor's colour.
inline constexpr int kColourPatchSide = 16;

// Paints the test picture: four 8x8 quadrants, white, red, green and blue.
void PaintColourPatch(std::uint8_t* bgra, int rowPitch);

// The matrix and range whose conversion of the test picture `luma` / `chroma` (NV12 planes) is,
// within a few steps; nothing when no known one is.
std::optional<VppColour> RecogniseColour(const std::uint8_t* luma, int lumaPitch,
                                         const std::uint8_t* chroma, int chromaPitch);

// "BT.709 limited range" and the like.
std::string ColourName(VppColour colour);

// The driver's video processor converting BGRA surfaces to NV12 surfaces of the same size; asked
// for BT.601 limited range. Borrows the display, which must outlive it.
class VaapiVpp {
 public:
  // Nothing, with the failed call in *error, when the driver refuses the processing context.
  static std::unique_ptr<VaapiVpp> Create(VADisplay display, int width, int height,
                                          std::string* error);
  ~VaapiVpp();
  VaapiVpp(const VaapiVpp&) = delete;
  VaapiVpp& operator=(const VaapiVpp&) = delete;

  // Converts `bgra` into `nv12` and waits until the processor is done with both, so that the
  // source surface may be written again at once.
  bool Convert(VASurfaceID bgra, VASurfaceID nv12, std::string* error);

 private:
  VaapiVpp(VADisplay display, VAConfigID config, VAContextID context)
      : display_(display), config_(config), context_(context) {}

  VADisplay display_;
  VAConfigID config_;
  VAContextID context_;
};

}  // namespace corvantis::amfrt
