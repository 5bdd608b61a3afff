#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "amf/api/result.h"
#include "amfrt/encoder_settings.h"
#include "platform/va_probe.h"

namespace corvantis::amfrt {

enum class VaapiRateControl { Vbr, Cbr, Cqp };

// How an encoder component's settings are handed to h264_vaapi / hevc_vaapi.
struct VaapiOptions {
  AMF_RESULT Result = AMF_OK;  // AMF_NOT_SUPPORTED when the driver has no encoder for the request
  std::string Failure;         // why, when result is not AMF_OK

  const char* CodecName = nullptr;  // "h264_vaapi" or "hevc_vaapi"
  const char* Profile = nullptr;    // the encoder's "profile" option
  bool LowPower = false;            // "low_power": VAEntrypointEncSliceLP
  VaapiRateControl RateControl = VaapiRateControl::Vbr;
  std::int64_t BitRate = 0;
  std::int64_t MaxRate = 0;
  int BufferSize = 0;  // bits
  int Qp = 0;          // "qp" for CQP
  int GopSize = 0;
  int MaxBFrames = 0;
  int AsyncDepth = 2;         // "async_depth": frames in flight before the first output
  int QualityLevel = 0;       // compression_level; 0: the driver's default
  int Tier = 0;               // HEVC "tier"
  const char* Sei = nullptr;  // AVC "sei" flags
  int Level = 0;              // AVCodecContext::level; 0: libavcodec's own guess
  bool GpuConversion = false;
  // Properties the driver cannot honour, each said in a line of the trace.
  std::vector<std::string> NotHonoured;
};

// The GOP length standing for "only the first frame is an IDR": about 48 days at 260 fps.
inline constexpr int kOnlyFirstIdrGop = 1 << 30;

// The VAProfile for the settings' codec and profile.
int VaapiProfileOf(const EncoderSettings& settings);
const char* VaapiProfileName(int vaProfile);

// The options for a `width` x `height` stream of `settings` on a driver offering `caps`.
VaapiOptions BuildVaapiOptions(const EncoderSettings& settings, const VaapiCapabilities& caps,
                               int width, int height);

const char* RateControlName(VaapiRateControl mode);

// HEVC's general_level_idc (30 times the level) of the lowest level whose picture size, luma
// sample rate and bit rate (of the tier) take the stream; 0 when none does.
int HevcLevelIdc(int width, int height, amf::AMFRate frameRate, std::int64_t peakBitrate,
                 bool highTier);

}  // namespace corvantis::amfrt
