#include "amfrt/vaapi_options.h"

#include <gtest/gtest.h>
#include <va/va.h>

#include <string>
#include <utility>

#include "amf/api/encoder_properties.h"
#include "amfrt/vaapi_packets.h"

namespace corvantis::amfrt {
namespace {

EncoderSettings FromProperties(Codec codec, std::initializer_list<std::pair<const wchar_t*, amf::amf_int64>> values) {
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

EncoderSettings ProgramsAvc() {
  return FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 100}, {AMF_VIDEO_ENCODER_LOWLATENCY_MODE, 1},
                                     {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, 3}, {AMF_VIDEO_ENCODER_TARGET_BITRATE, 500000},
                                     {AMF_VIDEO_ENCODER_PEAK_BITRATE, 625000}, {AMF_VIDEO_ENCODER_ENFORCE_HRD, 0},
                                     {AMF_VIDEO_ENCODER_IDR_PERIOD, 0}, {AMF_VIDEO_ENCODER_B_PIC_PATTERN, 0},
                                     {AMF_VIDEO_ENCODER_QUALITY_PRESET, 1}});
}

EncoderSettings ProgramsHevc() {
  return FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_PROFILE, 1}, {AMF_VIDEO_ENCODER_HEVC_TIER, 0},
                                      {AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, 500000},
                                      {AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, 625000},
                                      {AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, 0}, {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 1},
                                      {AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 0}, {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, 10}});
}

// Mesa's radeonsi as it answers for H.264 and HEVC: one full entry point, no quality levels, no
// video processor for BGRA.
VaapiCapabilities RadeonLike() {
  VaapiCapabilities caps;
  caps.slice = {true, VA_RC_CBR | VA_RC_VBR | VA_RC_CQP, 0, 4096, 2304, true};
  return caps;
}

// Intel's media driver: a low-power entry point beside the full one, seven quality levels, VPP.
VaapiCapabilities IntelLike() {
  VaapiCapabilities caps;
  caps.slice = {true, VA_RC_CBR | VA_RC_VBR | VA_RC_CQP | VA_RC_ICQ, 7, 4096, 4096, true};
  caps.lowPower = {true, VA_RC_CBR | VA_RC_VBR | VA_RC_CQP, 7, 4096, 4096, false};
  caps.videoProcessingFromBgra = true;
  return caps;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  return all;
}

TEST(VaapiOptions, ProgramsSettingsOnAFullEntryPointDriver) {
  const VaapiOptions avc = BuildVaapiOptions(ProgramsAvc(), RadeonLike(), 1920, 1080);
  ASSERT_EQ(avc.result, AMF_OK) << avc.failure;
  EXPECT_EQ(std::string(avc.codecName) + " " + avc.profile, "h264_vaapi high");
  EXPECT_FALSE(avc.lowPower) << "the driver has no low-power entry point";
  EXPECT_EQ(avc.rateControl, VaapiRateControl::Vbr);
  EXPECT_EQ(avc.bitRate, 500000);
  EXPECT_EQ(avc.maxRate, 625000);
  EXPECT_EQ(avc.bufferSize, 625000) << "one second at the peak";
  EXPECT_EQ(avc.gopSize, kOnlyFirstIdrGop);
  EXPECT_EQ(avc.maxBFrames, 0);
  EXPECT_EQ(avc.asyncDepth, 1) << "low latency: each output as soon as its frame is encoded";
  EXPECT_EQ(avc.qualityLevel, 0);
  EXPECT_STREQ(avc.sei, "0");
  EXPECT_FALSE(avc.gpuConversion);
  // The speed preset cannot be honoured without quality levels, and the trace says so.
  ASSERT_EQ(avc.notHonoured.size(), 1u) << Joined(avc.notHonoured);
  EXPECT_NE(avc.notHonoured[0].find("QualityPreset speed"), std::string::npos);

  const VaapiOptions hevc = BuildVaapiOptions(ProgramsHevc(), RadeonLike(), 3840, 2160);
  ASSERT_EQ(hevc.result, AMF_OK) << hevc.failure;
  EXPECT_EQ(std::string(hevc.codecName) + " " + hevc.profile, "hevc_vaapi main");
  EXPECT_EQ(hevc.tier, 0);
  EXPECT_EQ(hevc.maxRate, 625000);
  EXPECT_EQ(hevc.gopSize, kOnlyFirstIdrGop) << "GOP size 0 x 1 per IDR";
  EXPECT_EQ(hevc.sei, nullptr);
}

TEST(VaapiOptions, LowLatencyTakesTheLowPowerEntryPointAndPresetsPickQualityLevels) {
  const VaapiOptions speed = BuildVaapiOptions(ProgramsHevc(), IntelLike(), 1920, 1080);
  ASSERT_EQ(speed.result, AMF_OK) << speed.failure;
  EXPECT_TRUE(speed.lowPower);
  EXPECT_EQ(speed.qualityLevel, 7) << "the speed preset is the fastest level";
  EXPECT_TRUE(speed.gpuConversion);
  EXPECT_TRUE(speed.notHonoured.empty()) << Joined(speed.notHonoured);

  EncoderSettings settings = ProgramsAvc();
  settings.lowLatency = false;
  settings.preset = Preset::Quality;
  VaapiOptions o = BuildVaapiOptions(settings, IntelLike(), 1920, 1080);
  EXPECT_FALSE(o.lowPower) << "without low latency the full entry point";
  EXPECT_EQ(o.asyncDepth, 2);
  EXPECT_EQ(o.qualityLevel, 1);
  settings.preset = Preset::Balanced;
  EXPECT_EQ(BuildVaapiOptions(settings, IntelLike(), 1920, 1080).qualityLevel, 4);

  // A driver with only the low-power entry point uses it whatever the latency.
  VaapiCapabilities onlyLowPower = IntelLike();
  onlyLowPower.slice = {};
  EXPECT_TRUE(BuildVaapiOptions(settings, onlyLowPower, 1920, 1080).lowPower);

  // A low-power entry point without bit-rate control (no firmware for it) gives way to the full
  // one, which has VBR, rather than putting CBR or CQP in its place.
  VaapiCapabilities cqpOnlyLowPower = IntelLike();
  cqpOnlyLowPower.lowPower.rateControlModes = VA_RC_CQP;
  const VaapiOptions vbr = BuildVaapiOptions(ProgramsAvc(), cqpOnlyLowPower, 1920, 1080);
  EXPECT_FALSE(vbr.lowPower);
  EXPECT_EQ(vbr.rateControl, VaapiRateControl::Vbr);
  EXPECT_TRUE(vbr.notHonoured.empty()) << Joined(vbr.notHonoured);
}

TEST(VaapiOptions, WhatTheDriverLacksIsRefusedOrSaid) {
  // No encoder for the profile at all.
  VaapiOptions o = BuildVaapiOptions(ProgramsAvc(), VaapiCapabilities{}, 640, 360);
  EXPECT_EQ(o.result, AMF_NOT_SUPPORTED);
  EXPECT_NE(o.failure.find("VAProfileH264High"), std::string::npos) << o.failure;
  // A size beyond the entry point's limits.
  o = BuildVaapiOptions(ProgramsHevc(), RadeonLike(), 3840, 2400);
  EXPECT_EQ(o.result, AMF_NOT_SUPPORTED);
  EXPECT_NE(o.failure.find("4096x2304"), std::string::npos) << o.failure;
  // Constant QP without a CQP mode has no stand-in.
  VaapiCapabilities noCqp = RadeonLike();
  noCqp.slice.rateControlModes = VA_RC_CBR | VA_RC_VBR;
  EncoderSettings qp = ProgramsAvc();
  qp.rateControl = RateControl::ConstantQp;
  EXPECT_EQ(BuildVaapiOptions(qp, noCqp, 640, 360).result, AMF_NOT_SUPPORTED);
  qp.rateControl = RateControl::LatencyConstrainedVbr;
  qp.targetBitrate = 0;
  EXPECT_EQ(BuildVaapiOptions(qp, noCqp, 640, 360).result, AMF_NOT_SUPPORTED) << "a target of 0 means constant QP";
  EXPECT_EQ(BuildVaapiOptions(qp, RadeonLike(), 640, 360).qp, 22);
  // VBR on a CBR-only driver becomes CBR at the target, said in the trace.
  VaapiCapabilities cbrOnly = RadeonLike();
  cbrOnly.slice.rateControlModes = VA_RC_CBR;
  o = BuildVaapiOptions(ProgramsAvc(), cbrOnly, 640, 360);
  ASSERT_EQ(o.result, AMF_OK);
  EXPECT_EQ(o.rateControl, VaapiRateControl::Cbr);
  EXPECT_EQ(o.maxRate, 500000);
  EXPECT_NE(Joined(o.notHonoured).find("VBR: the driver has none"), std::string::npos) << Joined(o.notHonoured);
  // B-pictures where the entry point has no backward references.
  EncoderSettings b = ProgramsAvc();
  b.bFrames = 2;
  o = BuildVaapiOptions(b, IntelLike(), 640, 360);
  EXPECT_EQ(o.maxBFrames, 0);
  EXPECT_NE(Joined(o.notHonoured).find("BPicturesPattern 2"), std::string::npos) << Joined(o.notHonoured);
  b.lowLatency = false;
  EXPECT_EQ(BuildVaapiOptions(b, IntelLike(), 640, 360).maxBFrames, 2);
}

TEST(VaapiOptions, ProfilesPeriodsAndHrd) {
  EXPECT_EQ(VaapiProfileOf(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 66}})),
            VAProfileH264ConstrainedBaseline);
  EXPECT_STREQ(BuildVaapiOptions(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 77}}), RadeonLike(), 64, 64)
                   .profile,
               "main");
  EXPECT_EQ(VaapiProfileOf(ProgramsHevc()), VAProfileHEVCMain);
  const VaapiOptions periodic = BuildVaapiOptions(
      FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 30}, {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 4},
                                   {AMF_VIDEO_ENCODER_HEVC_TIER, 1}}),
      RadeonLike(), 640, 360);
  EXPECT_EQ(periodic.gopSize, 120);
  EXPECT_EQ(periodic.tier, 1);
  EXPECT_STREQ(BuildVaapiOptions(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_ENFORCE_HRD, 1}}), RadeonLike(), 64, 64)
                   .sei,
               "timing");
  const VaapiOptions hrd =
      BuildVaapiOptions(FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, 1}}), RadeonLike(), 64, 64);
  EXPECT_NE(Joined(hrd.notHonoured).find("HevcEnforceHRD 1"), std::string::npos) << Joined(hrd.notHonoured);
}

// An H.264 slice NAL unit: header byte then the slice header's first bits.
std::vector<std::uint8_t> Slice(std::uint8_t header, std::initializer_list<std::uint8_t> rbsp) {
  std::vector<std::uint8_t> packet{0, 0, 0, 1, header};
  for (const std::uint8_t byte : rbsp) packet.push_back(byte);
  return packet;
}

TEST(VaapiPictureType, FromKeyFlagOrTheFirstSlicesType) {
  // first_mb_in_slice 0 ("1"), then slice_type: 0 P ("1"), 1 B ("010"), 7 I ("0001000").
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x41, {0xC0}), false), 2);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x01, {0xA0}), false), 3);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x41, {0x88}), false), 1);
  // first_mb_in_slice with 22 leading zeros: the raw bytes carry an emulation-prevention 03.
  // RBSP 00 00 02 00 00 02: 22 zeros, 1, 22 bits of 0, then slice_type 1 ("010").
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x01, {0x00, 0x00, 0x03, 0x02, 0x00, 0x00, 0x03, 0x02}), false),
            3);
  // A delimiter before the slice is skipped; a key packet is I whatever it holds; HEVC is P.
  std::vector<std::uint8_t> withAud{0, 0, 0, 1, 9, 0x30};
  for (const std::uint8_t byte : Slice(0x01, {0xA0})) withAud.push_back(byte);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, withAud, false), 3);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x41, {0xC0}), true), 1);
  EXPECT_EQ(VaapiPictureType(Codec::Hevc, Slice(0x02, {0x01, 0xC0}), false), 2);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x41, {}), false), 2) << "a truncated header counts as P";
}

}  // namespace
}  // namespace corvantis::amfrt
