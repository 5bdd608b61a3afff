#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "amf/api/result.h"
#include "amfrt/encoder_settings.h"

namespace corvantis::amfrt {

// What a VA driver offers for one codec profile at one encode entry point.
struct VaapiEntrypoint {
  bool present = false;
  std::uint32_t rateControlModes = 0;  // VA_RC_* bits
  int qualityLevels = 0;               // VAConfigAttribEncQualityRange; 0: no levels to choose
  int maxWidth = 0;                    // 0: the driver does not say
  int maxHeight = 0;
  bool backwardReferences = true;      // VAConfigAttribEncMaxRefFrames gives list 1 a reference
};

struct VaapiCapabilities {
  VaapiEntrypoint slice;     // VAEntrypointEncSlice
  VaapiEntrypoint lowPower;  // VAEntrypointEncSliceLP
  // VAEntrypointVideoProc takes BGRA surfaces and BGRA images can be uploaded: the colour
  // conversion to NV12 runs on the GPU.
  bool videoProcessingFromBgra = false;
};

enum class VaapiRateControl { Vbr, Cbr, Cqp };

// How an encoder component's settings are handed to h264_vaapi / hevc_vaapi.
struct VaapiOptions {
  AMF_RESULT result = AMF_OK;  // AMF_NOT_SUPPORTED when the driver has no encoder for the request
  std::string failure;         // why, when result is not AMF_OK

  const char* codecName = nullptr;  // "h264_vaapi" or "hevc_vaapi"
  const char* profile = nullptr;    // the encoder's "profile" option
  bool lowPower = false;            // "low_power": VAEntrypointEncSliceLP
  VaapiRateControl rateControl = VaapiRateControl::Vbr;
  std::int64_t bitRate = 0;
  std::int64_t maxRate = 0;
  int bufferSize = 0;               // bits
  int qp = 0;                       // "qp" for CQP
  int gopSize = 0;
  int maxBFrames = 0;
  int asyncDepth = 2;               // "async_depth": frames in flight before the first output
  int qualityLevel = 0;             // compression_level; 0: the driver's default
  int tier = 0;                     // HEVC "tier"
  const char* sei = nullptr;        // AVC "sei" flags
  int level = 0;                    // AVCodecContext::level; 0: libavcodec's own guess
  bool gpuConversion = false;
  // Properties the driver cannot honour, each said in a line of the trace.
  std::vector<std::string> notHonoured;
};

// The GOP length standing for "only the first frame is an IDR": about 48 days at 260 fps.
inline constexpr int kOnlyFirstIdrGop = 1 << 30;

// The VAProfile for the settings' codec and profile.
int VaapiProfileOf(const EncoderSettings& settings);
const char* VaapiProfileName(int vaProfile);

// The options for a `width` x `height` stream of `settings` on a driver offering `caps`.
VaapiOptions BuildVaapiOptions(const EncoderSettings& settings, const VaapiCapabilities& caps, int width, int height);

const char* RateControlName(VaapiRateControl mode);

// HEVC's general_level_idc (30 times the level) of the lowest level whose picture size, luma
// sample rate and bit rate (of the tier) take the stream; 0 when none does.
int HevcLevelIdc(int width, int height, amf::AMFRate frameRate, std::int64_t peakBitrate, bool highTier);

}  // namespace corvantis::amfrt
