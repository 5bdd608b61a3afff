#pragma once
#include <utility>
#include <vector>

#include "amf/api/encoder_properties.h"
#include "amf/api/variant.h"

namespace corvantis {

inline amf::AMFVariantStruct Int64Value(amf::amf_int64 value) {
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  amf::AMFVariantAssignInt64(&v, value);
  return v;
}

inline amf::AMFVariantStruct RateValue(std::uint32_t num, std::uint32_t den) {
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  amf::AMFVariantAssignRate(&v, amf::AMFConstructRate(num, den));
  return v;
}

using EncoderProperties = std::vector<std::pair<const wchar_t*, amf::AMFVariantStruct>>;

// The properties the program sets on the AVC or HEVC encoder, in its order, at `frameRate` and
// 500 kbit/s; the other arguments vary what tests and benchmarks try beside it (a quality preset
// of -1 is the program's speed preset).
inline EncoderProperties ProgramProperties(bool hevc, std::uint32_t frameRate = 60,
                                           bool lowLatency = true,
                                           amf::amf_int64 qualityPreset = -1,
                                           amf::amf_int64 bPictures = 0) {
  amf::AMFVariantStruct latency;
  amf::AMFVariantInit(&latency);
  if (!hevc) {
    amf::AMFVariantAssignBool(&latency, lowLatency);
    return {{AMF_VIDEO_ENCODER_FRAMERATE, RateValue(frameRate, 1)},
            {AMF_VIDEO_ENCODER_PROFILE, Int64Value(100)},
            {AMF_VIDEO_ENCODER_LOWLATENCY_MODE, latency},
            {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, Int64Value(3)},
            {AMF_VIDEO_ENCODER_TARGET_BITRATE, Int64Value(500000)},
            {AMF_VIDEO_ENCODER_PEAK_BITRATE, Int64Value(625000)},
            {AMF_VIDEO_ENCODER_ENFORCE_HRD, Int64Value(0)},
            {AMF_VIDEO_ENCODER_IDR_PERIOD, Int64Value(0)},
            {AMF_VIDEO_ENCODER_B_PIC_PATTERN, Int64Value(bPictures)},
            {AMF_VIDEO_ENCODER_QUALITY_PRESET, Int64Value(qualityPreset >= 0 ? qualityPreset : 1)}};
  }
  amf::AMFVariantAssignInt64(&latency, lowLatency ? 1 : 0);
  return {
      {AMF_VIDEO_ENCODER_HEVC_FRAMERATE, RateValue(frameRate, 1)},
      {AMF_VIDEO_ENCODER_HEVC_PROFILE, Int64Value(1)},
      {AMF_VIDEO_ENCODER_HEVC_TIER, Int64Value(0)},
      {AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, latency},
      {AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD, Int64Value(1)},
      {AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, Int64Value(500000)},
      {AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, Int64Value(625000)},
      {AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, Int64Value(0)},
      {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, Int64Value(1)},
      {AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, Int64Value(0)},
      {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, Int64Value(qualityPreset >= 0 ? qualityPreset : 10)}};
}

}  // namespace corvantis
