#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "amf/api/result.h"
#include "amfrt/encoder_settings.h"
#include "platform/va_probe.h"

namespace corvantis::amfrt {

// The drivers whose answers differ from what libavcodec assumes.
enum class VaapiDriver {
  Other,
  // Mesa's radeonsi (VCE, UVD-enc, VCN): the firmware writes the parameter sets itself, HEVC's at
  // a width aligned to 64 and a height aligned to 16 (radeon_vcn_enc_1_2.c radeon_enc_session_init,
  // radeon_uvd_enc_1_1.c radeon_uvd_enc_session_init_hevc), and quality levels are a bit field
  // (frontends/va/picture.c vlVaHandleVAEncMiscParameterTypeQualityLevel, vlVaQualityBits): 0 the
  // speed preset, 1 balanced with pre-encoding and VBAQ, else bit 0 set, bits 1-2 the preset
  // (0 speed, 1 balanced, 2 quality), bit 3 pre-encoding, bit 4 VBAQ.
  MesaRadeonsi,
};

// The driver of that VA vendor string: Mesa's says "Mesa Gallium driver <version> for <renderer>"
// (frontends/va/context.c VA_DRIVER_INIT_FUNC), radeonsi's renderer names the AMD part.
VaapiDriver VaapiDriverOf(const std::string& vendor);

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
  int Tier = -1;              // "tier": 0 main, 1 high; -1: the codec has none
  const char* Sei = nullptr;  // "sei" flags; nullptr: the encoder has none
  int Level = 0;              // AVCodecContext::level; 0: libavcodec's own guess
  bool GpuConversion = false;
  // Properties the driver cannot honour, each said in a line of the trace.
  std::vector<std::string> NotHonoured;
};

// The longest GOP whose POC length is legal on every driver: Mesa's VCN and UVD encoders code
// log2_max_pic_order_cnt_lsb as the bits of max(16, next power of two of intra_period)
// (radeon_vcn_enc.c radeon_vcn_enc_hevc_get_param, radeon_uvd_enc.c radeon_uvd_enc_get_param),
// 16 at most in H.265 (7.4.3.2.1). 126 seconds at 260 fps: a 30-second clip has one IDR, a longer
// one an IDR every 32768 frames.
inline constexpr int kLongestLegalGop = 1 << 15;

// The width and height an HEVC stream's SPS codes for a `width` x `height` picture on `caps`.
std::pair<int, int> HevcCodedSize(VaapiDriver driver, const VaapiEntrypoint& entry, int width,
                                  int height);

// The VAProfile for the settings' codec and profile.
int VaapiProfileOf(const EncoderSettings& settings);
const char* VaapiProfileName(int vaProfile);

// The options for a `width` x `height` stream of `settings` on `driver` offering `caps`; the
// entry point, or why none, as ChooseVaEntrypoint decides. `vendor` is the driver's vendor string.
VaapiOptions BuildVaapiOptions(const EncoderSettings& settings, const VaapiCapabilities& caps,
                               int width, int height, VaapiDriver driver = VaapiDriver::Other,
                               const std::string& vendor = {});

const char* RateControlName(VaapiRateControl mode);

// HEVC's general_level_idc (30 times the level) of the lowest level whose picture size, luma
// sample rate and bit rate (of the tier) take a stream of that coded size; 0 when none does.
int HevcLevelIdc(int width, int height, amf::AMFRate frameRate, std::int64_t peakBitrate,
                 bool highTier);

}  // namespace corvantis::amfrt
