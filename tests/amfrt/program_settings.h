#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "amf/api/encoder_properties.h"
#include "amf/api/variant.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/property_map.h"

namespace corvantis::amfrt {

// The settings an encoder reads from `values` set as properties, each normalized as the runtime
// does on SetProperty.
inline EncoderSettings FromProperties(
    Codec codec, std::initializer_list<std::pair<const wchar_t*, amf::amf_int64>> values) {
  PropertyMap map;
  for (const auto& [name, number] : values) {
    amf::AMFVariantStruct value, normalized;
    amf::AMFVariantInit(&value);
    amf::AMFVariantInit(&normalized);
    amf::AMFVariantAssignInt64(&value, number);
    EXPECT_EQ(NormalizeEncoderProperty(codec, name, value, &normalized), AMF_OK);
    map.Set(name, normalized);
    amf::AMFVariantClear(&normalized);
  }
  return ReadEncoderSettings(codec, map);
}

// The AVC encoder as the benchmark configures it.
inline EncoderSettings ProgramsAvc() {
  return FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 100},
                                     {AMF_VIDEO_ENCODER_LOWLATENCY_MODE, 1},
                                     {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, 3},
                                     {AMF_VIDEO_ENCODER_TARGET_BITRATE, 500000},
                                     {AMF_VIDEO_ENCODER_PEAK_BITRATE, 625000},
                                     {AMF_VIDEO_ENCODER_ENFORCE_HRD, 0},
                                     {AMF_VIDEO_ENCODER_IDR_PERIOD, 0},
                                     {AMF_VIDEO_ENCODER_B_PIC_PATTERN, 0},
                                     {AMF_VIDEO_ENCODER_QUALITY_PRESET, 1}});
}

// The HEVC encoder as the benchmark configures it.
inline EncoderSettings ProgramsHevc() {
  return FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_PROFILE, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_TIER, 0},
                                      {AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, 500000},
                                      {AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, 625000},
                                      {AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, 0},
                                      {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 0},
                                      {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, 10}});
}

}  // namespace corvantis::amfrt
