#include "amfrt/codec_description.h"

#include <va/va.h>

#include <cwchar>

#include "amf/api/encoder_properties.h"

namespace corvantis::amfrt {
namespace {

int AvcVaProfile(amf::amf_int64 amfProfile) {
  switch (amfProfile) {
    case AMF_VIDEO_ENCODER_PROFILE_BASELINE: return VAProfileH264ConstrainedBaseline;
    case AMF_VIDEO_ENCODER_PROFILE_MAIN: return VAProfileH264Main;
    default: return VAProfileH264High;
  }
}

int HevcVaProfile(amf::amf_int64) { return VAProfileHEVCMain; }

constexpr int kAvcParameterSets[] = {7, 8};  // SPS, PPS
constexpr int kAvcIdrSlice = 5;
constexpr int kAvcIdr[] = {kAvcIdrSlice};
constexpr int kAvcSlices[] = {1, kAvcIdrSlice};  // non-IDR, IDR
constexpr int kAvcDelimiter = 9;
constexpr std::uint8_t kAvcDelimiterHeader[] = {kAvcDelimiter};
constexpr int kHevcParameterSets[] = {32, 33, 34};  // VPS, SPS, PPS
constexpr int kHevcIdr[] = {19, 20};                // with and without leading pictures
constexpr int kHevcCra[] = {21};
constexpr int kHevcDelimiter = 35;
// Layer 0, temporal id 0.
constexpr std::uint8_t kHevcDelimiterHeader[] = {kHevcDelimiter << 1, 0x01};

const CodecDescription kAvc{
    Codec::Avc,
    {AMFVideoEncoderVCE_AVC, AMF_VIDEO_ENCODER_INSERT_AUD, AMF_VIDEO_ENCODER_INSERT_SPS,
     AMF_VIDEO_ENCODER_INSERT_PPS, AMF_VIDEO_ENCODER_OUTPUT_DATA_TYPE},
    {AMF_VIDEO_ENCODER_FRAMERATE, AMF_VIDEO_ENCODER_PROFILE, AMF_VIDEO_ENCODER_LOWLATENCY_MODE,
     AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, AMF_VIDEO_ENCODER_TARGET_BITRATE,
     AMF_VIDEO_ENCODER_PEAK_BITRATE, AMF_VIDEO_ENCODER_ENFORCE_HRD,
     AMF_VIDEO_ENCODER_QUALITY_PRESET},
    AMF_VIDEO_ENCODER_PROFILE_MAIN,
    {AMF_VIDEO_ENCODER_QUALITY_PRESET_SPEED, AMF_VIDEO_ENCODER_QUALITY_PRESET_BALANCED,
     AMF_VIDEO_ENCODER_QUALITY_PRESET_QUALITY},
    {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_CONSTANT_QP, AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_CBR,
     AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_PEAK_CONSTRAINED_VBR,
     AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR},
    "libx264",
    "x264-params",
    "h264_vaapi",
    &AvcVaProfile,
    "amfrt-avc",
    {0, 0x1F, kAvcParameterSets, kAvcIdr, {}, kAvcDelimiter, kAvcDelimiterHeader, kAvcSlices}};

const CodecDescription kHevc{
    Codec::Hevc,
    {AMFVideoEncoder_HEVC, AMF_VIDEO_ENCODER_HEVC_INSERT_AUD, AMF_VIDEO_ENCODER_HEVC_INSERT_HEADER,
     nullptr, AMF_VIDEO_ENCODER_HEVC_OUTPUT_DATA_TYPE},
    {AMF_VIDEO_ENCODER_HEVC_FRAMERATE, AMF_VIDEO_ENCODER_HEVC_PROFILE,
     AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD,
     AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE,
     AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET},
    AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN,
    {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_SPEED, AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_BALANCED,
     AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_QUALITY},
    {AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_CONSTANT_QP,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_CBR,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_PEAK_CONSTRAINED_VBR,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR},
    "libx265",
    "x265-params",
    "hevc_vaapi",
    &HevcVaProfile,
    "amfrt-hevc",
    {1, 0x3F, kHevcParameterSets, kHevcIdr, kHevcCra, kHevcDelimiter, kHevcDelimiterHeader, {}}};

}  // namespace

const CodecDescription& DescriptionOf(Codec codec) { return codec == Codec::Avc ? kAvc : kHevc; }

const CodecNames& NamesOf(Codec codec) { return DescriptionOf(codec).Names; }

bool CodecFromComponentId(const wchar_t* id, Codec* codec) {
  if (id == nullptr) return false;
  for (const CodecDescription* d : {&kAvc, &kHevc}) {
    if (std::wcscmp(id, d->Names.ComponentId) == 0) {
      *codec = d->Id;
      return true;
    }
  }
  return false;
}

}  // namespace corvantis::amfrt
