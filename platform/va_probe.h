#pragma once
#include <va/va.h>

#include <cstdint>

namespace corvantis {

// What a VA driver offers for one codec profile at one encode entry point.
struct VaapiEntrypoint {
  bool Present = false;
  std::uint32_t RateControlModes = 0;  // VA_RC_* bits
  int QualityLevels = 0;               // VAConfigAttribEncQualityRange; 0: no levels to choose
  int MaxWidth = 0;                    // 0: the driver does not say
  int MaxHeight = 0;
  bool BackwardReferences = true;  // VAConfigAttribEncMaxRefFrames gives list 1 a reference
  // HEVC's smallest luma coding block, which hevc_vaapi aligns the coded size to:
  // VAConfigAttribEncHEVCBlockSizes, else its guess of 16 (FFmpeg 5.1 vaapi_encode_h265_configure).
  int MinCodingBlock = 16;
};

struct VaapiCapabilities {
  VaapiEntrypoint Slice;     // VAEntrypointEncSlice
  VaapiEntrypoint LowPower;  // VAEntrypointEncSliceLP
  // VAEntrypointVideoProc takes BGRA surfaces and BGRA images can be uploaded: the colour
  // conversion to NV12 runs on the GPU.
  bool VideoProcessingFromBgra = false;
};

// What the driver behind `display` offers for encoding `profile` (entry points, rate control,
// quality levels, size limits, references) and whether its video processor converts BGRA.
VaapiCapabilities ProbeVaapi(VADisplay display, VAProfile profile);

// VaapiCapabilities::VideoProcessingFromBgra alone: where a BGRA picture is best kept in a VA
// surface.
bool VideoProcessingFromBgra(VADisplay display);

}  // namespace corvantis
