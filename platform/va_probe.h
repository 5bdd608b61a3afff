#pragma once
#include <va/va.h>

#include <cstdint>
#include <string>

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

// What an encoder asks of the driver.
struct VaEncodeAsk {
  VAProfile Profile = VAProfileH264High;
  int Width = 0;
  int Height = 0;
  std::uint32_t RateControl = VA_RC_VBR;  // VA_RC_VBR, VA_RC_CBR (each stands in for the other)
                                          // or VA_RC_CQP
  bool PreferLowPower = false;
  std::string Vendor;  // vaQueryVendorString: Mesa and Intel's driver get a hint in a refusal
};

// The entry point that encodes the ask: the preferred one when it takes the size and the asked
// mode, else any that takes the size and the mode or its stand-in. Without one, why not: no
// encoder for the profile, no such rate control, or the size limit. The runtime's Init and the
// adapter listing both decide here.
struct VaEncodeChoice {
  const VaapiEntrypoint* Entry = nullptr;  // into the capabilities given
  std::string Refusal;
};
VaEncodeChoice ChooseVaEntrypoint(const VaapiCapabilities& caps, const VaEncodeAsk& ask);

// What one render node's VA driver says of the program's streams, H.264 High and HEVC Main of
// up to 3840x2160 with VBR or CBR.
struct VaNodeFacts {
  std::string Failure;     // why the node gave no VA display (open, permission, no driver)
  std::string Vendor;      // vaQueryVendorString
  std::string DriverPath;  // the driver library libva loaded
  std::string H264;        // empty: it encodes; else why not
  std::string Hevc;
};
VaNodeFacts ProbeVaNode(const std::string& nodePath);

}  // namespace corvantis
