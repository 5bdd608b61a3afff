#include "amfrt/codec_description.h"

#include <va/va.h>

#include <climits>
#include <cwchar>

#include "amf/api/encoder_properties.h"

namespace corvantis::amfrt {
namespace {

constexpr amf::amf_int64 kMaxInt32 = INT32_MAX;

constexpr amf::amf_int64 kAvcProfiles[] = {AMF_VIDEO_ENCODER_PROFILE_BASELINE,
                                           AMF_VIDEO_ENCODER_PROFILE_MAIN,
                                           AMF_VIDEO_ENCODER_PROFILE_HIGH};
constexpr amf::amf_int64 kHevcProfiles[] = {AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN,
                                            AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN_10};
constexpr amf::amf_int64 kHevcSupportedProfiles[] = {AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN};
constexpr amf::amf_int64 kHevcPresets[] = {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_QUALITY,
                                           AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_BALANCED,
                                           AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_SPEED};

constexpr PropertyRule kAvcProperties[] = {
    {AMF_VIDEO_ENCODER_PROFILE, amf::AMF_VARIANT_INT64, 0, kAvcProfiles, {}},
    {AMF_VIDEO_ENCODER_IDR_PERIOD, amf::AMF_VARIANT_INT64, kMaxInt32, {}, {}},
    {AMF_VIDEO_ENCODER_B_PIC_PATTERN, amf::AMF_VARIANT_INT64, 3, {}, {}},
    {AMF_VIDEO_ENCODER_QUALITY_PRESET, amf::AMF_VARIANT_INT64, 2, {}, {}},
};

constexpr PropertyRule kHevcProperties[] = {
    {AMF_VIDEO_ENCODER_HEVC_PROFILE, amf::AMF_VARIANT_INT64, 0, kHevcProfiles,
     kHevcSupportedProfiles},
    {AMF_VIDEO_ENCODER_HEVC_TIER, amf::AMF_VARIANT_INT64, 1, {}, {}},
    {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, amf::AMF_VARIANT_INT64, kMaxInt32, {}, {}},
    {AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, amf::AMF_VARIANT_INT64, kMaxInt32, {}, {}},
    {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, amf::AMF_VARIANT_INT64, 0, kHevcPresets, {}},
};

// x264 signals the lowest profile its tools need; these tools make it the one asked for.
constexpr ProfileNames kAvcProfileNames[] = {
    {AMF_VIDEO_ENCODER_PROFILE_BASELINE, "baseline", "", "constrained_baseline",
     VAProfileH264ConstrainedBaseline},
    {AMF_VIDEO_ENCODER_PROFILE_MAIN, "main", "cabac=1", "main", VAProfileH264Main},
    {AMF_VIDEO_ENCODER_PROFILE_HIGH, "high", "8x8dct=1", "high", VAProfileH264High},
};
constexpr ProfileNames kHevcProfileNames[] = {
    {AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN, "main", "", "main", VAProfileHEVCMain},
};

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
    kAvcProperties,
    AMF_VIDEO_ENCODER_PROFILE_MAIN,
    kAvcProfileNames,
    {AMF_VIDEO_ENCODER_QUALITY_PRESET_SPEED, AMF_VIDEO_ENCODER_QUALITY_PRESET_BALANCED,
     AMF_VIDEO_ENCODER_QUALITY_PRESET_QUALITY},
    {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_CONSTANT_QP, AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_CBR,
     AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_PEAK_CONSTRAINED_VBR,
     AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR},
    false,
    "libx264",
    "x264-params",
    {"", "keyint=infinite", "rc-lookahead=0:sync-lookahead=0:sliced-threads=1", "nal-hrd=cbr",
     "nal-hrd=vbr", "nal-hrd=none"},
    "h264_vaapi",
    // No encoder identifier SEI; buffering-period and picture-timing SEI only when HRD is enforced.
    "0",
    "timing",
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
    kHevcProperties,
    AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN,
    kHevcProfileNames,
    {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_SPEED, AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_BALANCED,
     AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_QUALITY},
    {AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_CONSTANT_QP,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_CBR,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_PEAK_CONSTRAINED_VBR,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR},
    true,
    "libx265",
    "x265-params",
    {"info=0:log-level=error", "keyint=-1", "rc-lookahead=0:frame-threads=1", "hrd=1", "hrd=1",
     "hrd=0"},
    "hevc_vaapi",
    nullptr,
    nullptr,
    "amfrt-hevc",
    {1, 0x3F, kHevcParameterSets, kHevcIdr, kHevcCra, kHevcDelimiter, kHevcDelimiterHeader, {}}};

}  // namespace

const ProfileNames& CodecDescription::ProfileOf(amf::amf_int64 amfProfile) const {
  for (const ProfileNames& p : Profiles)
    if (p.Amf == amfProfile) return p;
  return Profiles.back();
}

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
