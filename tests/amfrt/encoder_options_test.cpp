#include "amfrt/encoder_options.h"

#include <gtest/gtest.h>

#include "amf/api/encoder_properties.h"

namespace amfrt {
namespace {

bool HasParam(const EncoderOptions& o, const std::string& item) {
  const std::string params = ":" + o.params + ":";
  return params.find(":" + item + ":") != std::string::npos;
}

amf::AMFVariantStruct Int(amf::amf_int64 v) {
  amf::AMFVariantStruct s;
  amf::AMFVariantInit(&s);
  amf::AMFVariantAssignInt64(&s, v);
  return s;
}

void Set(PropertyMap& map, Codec codec, const wchar_t* name, const amf::AMFVariantStruct& value) {
  amf::AMFVariantStruct normalized;
  amf::AMFVariantInit(&normalized);
  ASSERT_EQ(NormalizeEncoderProperty(codec, name, value, &normalized), AMF_OK);
  map.Set(name, normalized);
  amf::AMFVariantClear(&normalized);
}

TEST(EncoderSettings, TheProgramsAvcPropertiesMapToALowLatencyX264) {
  PropertyMap p;
  amf::AMFVariantStruct rate;
  amf::AMFVariantInit(&rate);
  amf::AMFVariantAssignRate(&rate, {144, 1});
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_FRAMERATE, rate);
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_PROFILE, Int(100));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_LOWLATENCY_MODE, Int(1));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, Int(3));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_TARGET_BITRATE, Int(500000));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_PEAK_BITRATE, Int(625000));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_ENFORCE_HRD, Int(0));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_IDR_PERIOD, Int(0));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_B_PIC_PATTERN, Int(0));
  Set(p, Codec::Avc, AMF_VIDEO_ENCODER_QUALITY_PRESET, Int(1));
  const EncoderSettings s = ReadEncoderSettings(Codec::Avc, p);
  EXPECT_EQ(s.frameRate.num, 144u);
  EXPECT_TRUE(s.lowLatency);
  EXPECT_EQ(s.rateControl, RateControl::LatencyConstrainedVbr);

  const EncoderOptions o = BuildEncoderOptions(s);
  EXPECT_STREQ(o.codecName, "libx264");
  EXPECT_EQ(o.profile, "high");
  EXPECT_EQ(o.preset, "ultrafast");
  EXPECT_EQ(o.tune, "zerolatency");
  EXPECT_EQ(o.bitRate, 500000);
  EXPECT_EQ(o.maxRate, 625000);
  EXPECT_EQ(o.bufferSize, 625000);
  EXPECT_EQ(o.maxBFrames, 0);
  for (const char* item : {"keyint=infinite", "scenecut=0", "bframes=0", "rc-lookahead=0", "sync-lookahead=0",
                           "sliced-threads=1", "nal-hrd=none", "aud=0", "repeat-headers=0"})
    EXPECT_TRUE(HasParam(o, item)) << item << " in " << o.params;
}

TEST(EncoderSettings, TheProgramsHevcPropertiesMapToALowLatencyX265) {
  PropertyMap p;
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_PROFILE, Int(1));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_TIER, Int(0));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, Int(1));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD, Int(1));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, Int(500000));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, Int(625000));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, Int(0));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, Int(1));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, Int(0));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, Int(10));
  const EncoderOptions o = BuildEncoderOptions(ReadEncoderSettings(Codec::Hevc, p));
  EXPECT_STREQ(o.codecName, "libx265");
  EXPECT_EQ(o.profile, "main");
  EXPECT_EQ(o.preset, "ultrafast");
  EXPECT_EQ(o.tune, "zerolatency");
  EXPECT_EQ(o.maxRate, 625000);
  EXPECT_EQ(o.bufferSize, 625000);
  for (const char* item : {"keyint=-1", "scenecut=0", "bframes=0", "rc-lookahead=0", "frame-threads=1",
                           "high-tier=0", "hrd=0", "aud=0", "repeat-headers=0", "info=0"})
    EXPECT_TRUE(HasParam(o, item)) << item << " in " << o.params;
}

TEST(EncoderSettings, PeriodsHrdPresetsAndRateControlVariants) {
  EncoderSettings s;
  s.codec = Codec::Avc;
  s.idrPeriod = 30;
  s.enforceHrd = true;
  s.rateControl = RateControl::LatencyConstrainedVbr;
  s.targetBitrate = 1000000;
  s.peakBitrate = 800000;  // below the target: the target bounds it
  s.preset = Preset::Quality;
  EncoderOptions o = BuildEncoderOptions(s);
  EXPECT_TRUE(HasParam(o, "keyint=30"));
  EXPECT_TRUE(HasParam(o, "nal-hrd=vbr"));
  EXPECT_EQ(o.maxRate, 1000000);
  EXPECT_EQ(o.preset, "medium");
  EXPECT_EQ(o.tune, "");

  s.rateControl = RateControl::Cbr;
  o = BuildEncoderOptions(s);
  EXPECT_TRUE(HasParam(o, "nal-hrd=cbr"));
  EXPECT_EQ(o.maxRate, o.bitRate);

  s.rateControl = RateControl::ConstantQp;
  o = BuildEncoderOptions(s);
  EXPECT_EQ(o.bitRate, 0);
  EXPECT_TRUE(HasParam(o, "qp=22"));
  EXPECT_TRUE(HasParam(o, "nal-hrd=none")) << "no HRD without a VBV";

  s.codec = Codec::Hevc;
  s.highTier = true;
  s.preset = Preset::Balanced;
  s.rateControl = RateControl::PeakConstrainedVbr;
  o = BuildEncoderOptions(s);
  EXPECT_TRUE(HasParam(o, "high-tier=1"));
  EXPECT_TRUE(HasParam(o, "hrd=1"));
  EXPECT_EQ(o.preset, "veryfast");
}

TEST(EncoderSettings, HevcIdrPeriodIsGopSizeTimesGopsPerIdr) {
  PropertyMap p;
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, Int(30));
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, Int(4));
  EXPECT_EQ(ReadEncoderSettings(Codec::Hevc, p).idrPeriod, 120);
  Set(p, Codec::Hevc, AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, Int(0));
  EXPECT_EQ(ReadEncoderSettings(Codec::Hevc, p).idrPeriod, 0);
}

}  // namespace
}  // namespace amfrt
