#include "amfrt/encoder_options.h"

#include <gtest/gtest.h>

#include <utility>

#include "amf/api/encoder_properties.h"
#include "tests/amfrt/program_settings.h"

namespace corvantis::amfrt {
namespace {

void ExpectParams(const EncoderOptions& o, std::initializer_list<const char*> items) {
  for (const char* item : items)
    EXPECT_NE((":" + o.Params + ":").find(std::string(":") + item + ":"), std::string::npos)
        << item << " in " << o.Params;
}

TEST(EncoderOptions, ProgramsAvcSettingsGiveALowLatencyX264) {
  const EncoderOptions o = BuildEncoderOptions(ProgramsAvc());
  EXPECT_EQ(std::string(o.CodecName) + " " + o.Profile + " " + o.Preset + " " + o.Tune,
            "libx264 high ultrafast zerolatency");
  EXPECT_EQ(o.BitRate, 500000);
  EXPECT_EQ(o.MaxRate, 625000);
  EXPECT_EQ(o.BufferSize, 625000);
  ExpectParams(o,
               {"keyint=infinite", "scenecut=0", "bframes=0", "rc-lookahead=0", "sync-lookahead=0",
                "sliced-threads=1", "nal-hrd=none", "aud=0", "repeat-headers=0", "8x8dct=1"});
}

TEST(EncoderOptions, ProgramsHevcSettingsGiveALowLatencyX265) {
  const EncoderOptions o = BuildEncoderOptions(ProgramsHevc());
  EXPECT_EQ(std::string(o.CodecName) + " " + o.Profile + " " + o.Preset + " " + o.Tune,
            "libx265 main ultrafast zerolatency");
  EXPECT_EQ(o.MaxRate, 625000);
  EXPECT_EQ(o.BufferSize, 625000);
  ExpectParams(o, {"keyint=-1", "scenecut=0", "bframes=0", "rc-lookahead=0", "frame-threads=1",
                   "high-tier=0", "hrd=0", "aud=0", "repeat-headers=0", "info=0"});
}

TEST(EncoderOptions, HrdPeriodsAndPeaksOutsideTheProgramsSettings) {
  EncoderOptions o = BuildEncoderOptions(
      FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 30},
                                   {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 4},
                                   {AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, 1},
                                   {AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, 1000000},
                                   {AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, 800000}}));
  ExpectParams(o, {"keyint=120", "hrd=1"});
  EXPECT_EQ(o.MaxRate, 1000000) << "the peak is at least the target";
  o = BuildEncoderOptions(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 77},
                                                      {AMF_VIDEO_ENCODER_IDR_PERIOD, 30},
                                                      {AMF_VIDEO_ENCODER_ENFORCE_HRD, 1},
                                                      {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, 1},
                                                      {AMF_VIDEO_ENCODER_TARGET_BITRATE, 800000}}));
  ExpectParams(o, {"keyint=30", "nal-hrd=cbr", "cabac=1"});
  EXPECT_EQ(o.Profile, "main");
  EXPECT_EQ(o.MaxRate, 800000);
}

}  // namespace
}  // namespace corvantis::amfrt
