#include "amfrt/vaapi_options.h"

#include <gtest/gtest.h>
#include <va/va.h>

#include <string>
#include <utility>

#include "amf/api/encoder_properties.h"
#include "amfrt/vaapi_packets.h"
#include "tests/amfrt/program_settings.h"

namespace corvantis::amfrt {
namespace {

// Mesa's radeonsi as it answers for H.264 and HEVC: one full entry point, no quality levels, no
// video processor for BGRA.
VaapiCapabilities RadeonLike() {
  VaapiCapabilities caps;
  caps.Slice = {true, VA_RC_CBR | VA_RC_VBR | VA_RC_CQP, 0, 4096, 2304, true};
  return caps;
}

// Intel's media driver: a low-power entry point beside the full one, seven quality levels, VPP.
VaapiCapabilities IntelLike() {
  VaapiCapabilities caps;
  caps.Slice = {true, VA_RC_CBR | VA_RC_VBR | VA_RC_CQP | VA_RC_ICQ, 7, 4096, 4096, true};
  caps.LowPower = {true, VA_RC_CBR | VA_RC_VBR | VA_RC_CQP, 7, 4096, 4096, false};
  caps.VideoProcessingFromBgra = true;
  return caps;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  return all;
}

TEST(VaapiOptions, ProgramsSettingsOnAFullEntryPointDriver) {
  const VaapiOptions avc = BuildVaapiOptions(ProgramsAvc(), RadeonLike(), 1920, 1080);
  ASSERT_EQ(avc.Result, AMF_OK) << avc.Failure;
  EXPECT_EQ(std::string(avc.CodecName) + " " + avc.Profile, "h264_vaapi high");
  EXPECT_FALSE(avc.LowPower) << "the driver has no low-power entry point";
  EXPECT_EQ(avc.RateControl, VaapiRateControl::Vbr);
  EXPECT_EQ(avc.BitRate, 500000);
  EXPECT_EQ(avc.MaxRate, 625000);
  EXPECT_EQ(avc.BufferSize, 625000) << "one second at the peak";
  EXPECT_EQ(avc.GopSize, kLongestLegalGop);
  EXPECT_EQ(avc.MaxBFrames, 0);
  EXPECT_EQ(avc.AsyncDepth, 1) << "low latency: each output as soon as its frame is encoded";
  EXPECT_EQ(avc.QualityLevel, 0);
  EXPECT_STREQ(avc.Sei, "0");
  EXPECT_EQ(avc.Tier, -1) << "h264_vaapi has no tier option";
  EXPECT_FALSE(avc.GpuConversion);
  // The speed preset cannot be honoured without quality levels, and the trace says so.
  ASSERT_EQ(avc.NotHonoured.size(), 1u) << Joined(avc.NotHonoured);
  EXPECT_NE(avc.NotHonoured[0].find("QualityPreset speed"), std::string::npos);

  const VaapiOptions hevc = BuildVaapiOptions(ProgramsHevc(), RadeonLike(), 3840, 2160);
  ASSERT_EQ(hevc.Result, AMF_OK) << hevc.Failure;
  EXPECT_EQ(std::string(hevc.CodecName) + " " + hevc.Profile, "hevc_vaapi main");
  EXPECT_EQ(hevc.Tier, 0);
  EXPECT_EQ(hevc.MaxRate, 625000);
  EXPECT_EQ(hevc.GopSize, kLongestLegalGop) << "GOP size 0 x 1 per IDR";
  EXPECT_EQ(hevc.Sei, nullptr);
}

TEST(VaapiOptions, LowLatencyTakesTheLowPowerEntryPointAndPresetsPickQualityLevels) {
  const VaapiOptions speed = BuildVaapiOptions(ProgramsHevc(), IntelLike(), 1920, 1080);
  ASSERT_EQ(speed.Result, AMF_OK) << speed.Failure;
  EXPECT_TRUE(speed.LowPower);
  EXPECT_EQ(speed.QualityLevel, 7) << "the speed preset is the fastest level";
  EXPECT_TRUE(speed.GpuConversion);
  EXPECT_TRUE(speed.NotHonoured.empty()) << Joined(speed.NotHonoured);

  EncoderSettings settings = ProgramsAvc();
  settings.LowLatency = false;
  settings.Preset = Preset::Quality;
  VaapiOptions o = BuildVaapiOptions(settings, IntelLike(), 1920, 1080);
  EXPECT_FALSE(o.LowPower) << "without low latency the full entry point";
  EXPECT_EQ(o.AsyncDepth, 2);
  EXPECT_EQ(o.QualityLevel, 1);
  settings.Preset = Preset::Balanced;
  EXPECT_EQ(BuildVaapiOptions(settings, IntelLike(), 1920, 1080).QualityLevel, 4);

  // A driver with only the low-power entry point uses it whatever the latency.
  VaapiCapabilities onlyLowPower = IntelLike();
  onlyLowPower.Slice = {};
  EXPECT_TRUE(BuildVaapiOptions(settings, onlyLowPower, 1920, 1080).LowPower);

  // A low-power entry point without bit-rate control (no firmware for it) gives way to the full
  // one, which has VBR, rather than putting CBR or CQP in its place.
  VaapiCapabilities cqpOnlyLowPower = IntelLike();
  cqpOnlyLowPower.LowPower.RateControlModes = VA_RC_CQP;
  const VaapiOptions vbr = BuildVaapiOptions(ProgramsAvc(), cqpOnlyLowPower, 1920, 1080);
  EXPECT_FALSE(vbr.LowPower);
  EXPECT_EQ(vbr.RateControl, VaapiRateControl::Vbr);
  EXPECT_TRUE(vbr.NotHonoured.empty()) << Joined(vbr.NotHonoured);
}

TEST(VaapiOptions, WhatTheDriverLacksIsRefusedOrSaid) {
  // No encoder for the profile at all.
  VaapiOptions o = BuildVaapiOptions(ProgramsAvc(), VaapiCapabilities{}, 640, 360);
  EXPECT_EQ(o.Result, AMF_NOT_SUPPORTED);
  EXPECT_NE(o.Failure.find("VAProfileH264High"), std::string::npos) << o.Failure;
  // A size beyond the entry point's limits.
  o = BuildVaapiOptions(ProgramsHevc(), RadeonLike(), 3840, 2400);
  EXPECT_EQ(o.Result, AMF_NOT_SUPPORTED);
  EXPECT_NE(o.Failure.find("4096x2304"), std::string::npos) << o.Failure;
  // Constant QP without a CQP mode has no stand-in.
  VaapiCapabilities noCqp = RadeonLike();
  noCqp.Slice.RateControlModes = VA_RC_CBR | VA_RC_VBR;
  EncoderSettings qp = ProgramsAvc();
  qp.RateControl = RateControl::ConstantQp;
  EXPECT_EQ(BuildVaapiOptions(qp, noCqp, 640, 360).Result, AMF_NOT_SUPPORTED);
  qp.RateControl = RateControl::LatencyConstrainedVbr;
  qp.TargetBitrate = 0;
  EXPECT_EQ(BuildVaapiOptions(qp, noCqp, 640, 360).Result, AMF_NOT_SUPPORTED)
      << "a target of 0 means constant QP";
  EXPECT_EQ(BuildVaapiOptions(qp, RadeonLike(), 640, 360).Qp, 22);
  // VBR on a CBR-only driver becomes CBR at the target, said in the trace.
  VaapiCapabilities cbrOnly = RadeonLike();
  cbrOnly.Slice.RateControlModes = VA_RC_CBR;
  o = BuildVaapiOptions(ProgramsAvc(), cbrOnly, 640, 360);
  ASSERT_EQ(o.Result, AMF_OK);
  EXPECT_EQ(o.RateControl, VaapiRateControl::Cbr);
  EXPECT_EQ(o.MaxRate, 500000);
  EXPECT_NE(Joined(o.NotHonoured).find("VBR: the driver has none"), std::string::npos)
      << Joined(o.NotHonoured);
  // B-pictures where the entry point has no backward references.
  EncoderSettings b = ProgramsAvc();
  b.BFrames = 2;
  o = BuildVaapiOptions(b, IntelLike(), 640, 360);
  EXPECT_EQ(o.MaxBFrames, 0);
  EXPECT_NE(Joined(o.NotHonoured).find("BPicturesPattern 2"), std::string::npos)
      << Joined(o.NotHonoured);
  b.LowLatency = false;
  EXPECT_EQ(BuildVaapiOptions(b, IntelLike(), 640, 360).MaxBFrames, 2);
}

TEST(VaapiOptions, ProfilesPeriodsAndHrd) {
  EXPECT_EQ(VaapiProfileOf(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 66}})),
            VAProfileH264ConstrainedBaseline);
  EXPECT_STREQ(BuildVaapiOptions(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_PROFILE, 77}}),
                                 RadeonLike(), 64, 64)
                   .Profile,
               "main");
  EXPECT_EQ(VaapiProfileOf(ProgramsHevc()), VAProfileHEVCMain);
  const VaapiOptions periodic =
      BuildVaapiOptions(FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 30},
                                                     {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 4},
                                                     {AMF_VIDEO_ENCODER_HEVC_TIER, 1}}),
                        RadeonLike(), 640, 360);
  EXPECT_EQ(periodic.GopSize, 120);
  EXPECT_EQ(periodic.Tier, 1);
  EXPECT_STREQ(BuildVaapiOptions(FromProperties(Codec::Avc, {{AMF_VIDEO_ENCODER_ENFORCE_HRD, 1}}),
                                 RadeonLike(), 64, 64)
                   .Sei,
               "timing");
  const VaapiOptions hrd = BuildVaapiOptions(
      FromProperties(Codec::Hevc, {{AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, 1}}), RadeonLike(), 64, 64);
  EXPECT_NE(Joined(hrd.NotHonoured).find("HevcEnforceHRD 1"), std::string::npos)
      << Joined(hrd.NotHonoured);
}

// Faults: a period whose POC length passes 16 bits on Mesa (the path tests read the default's), a
// level that ignores the driver's coding block, presets read as numbered levels by radeonsi.
TEST(VaapiOptions, PeriodLevelAndQualityAsEachDriverReadsThem) {
  EncoderSettings longPeriod = ProgramsHevc();
  longPeriod.IdrPeriod = std::int64_t{1} << 20;
  const VaapiOptions clamped = BuildVaapiOptions(longPeriod, RadeonLike(), 640, 360);
  EXPECT_EQ(clamped.GopSize, kLongestLegalGop);
  EXPECT_NE(Joined(clamped.NotHonoured).find("IDRPeriod 1048576"), std::string::npos);

  // 640x360@144 within level 3.1 only where the coded size is the displayed one.
  EncoderSettings fast = ProgramsHevc();
  fast.FrameRate = {144, 1};
  VaapiCapabilities eightByEight = IntelLike();
  eightByEight.LowPower.MinCodingBlock = 8;
  EXPECT_EQ(BuildVaapiOptions(fast, eightByEight, 640, 360).Level, 93);
  EXPECT_EQ(BuildVaapiOptions(fast, IntelLike(), 640, 360).Level, 120) << "coded 640x368";
  constexpr VaapiDriver kMesa = VaapiDriver::MesaRadeonsi;
  VaapiCapabilities vcn = RadeonLike();
  vcn.Slice.MinCodingBlock = 8;
  EXPECT_EQ(HevcCodedSize(kMesa, vcn.Slice, 1000, 562), (std::pair{1024, 576}));

  // Mesa's bit field: 0 speed, bit 0 with the preset in bits 1-2, never 1 (pre-encoding, VBAQ).
  vcn.Slice.QualityLevels = 32;
  for (const auto& [preset, level] :
       {std::pair{Preset::Speed, 0}, {Preset::Balanced, 3}, {Preset::Quality, 5}}) {
    EncoderSettings settings = ProgramsAvc();
    settings.Preset = preset;
    EXPECT_EQ(BuildVaapiOptions(settings, vcn, 640, 360, kMesa).QualityLevel, level);
  }
  EXPECT_EQ(VaapiDriverOf("Mesa Gallium driver 22.3.6 for AMD Radeon RX 6600 (navi23, LLVM 15)"),
            VaapiDriver::MesaRadeonsi);
  EXPECT_EQ(VaapiDriverOf("Intel iHD driver for Intel(R) Gen Graphics - 23.1.1 ()"),
            VaapiDriver::Other);
  EXPECT_EQ(VaapiDriverOf("Mesa Gallium driver 22.3.6 for llvmpipe"), VaapiDriver::Other);
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
  EXPECT_EQ(VaapiPictureType(Codec::Avc,
                             Slice(0x01, {0x00, 0x00, 0x03, 0x02, 0x00, 0x00, 0x03, 0x02}), false),
            3);
  // A delimiter before the slice is skipped; a key packet is I whatever it holds; HEVC is P.
  std::vector<std::uint8_t> withAud{0, 0, 0, 1, 9, 0x30};
  for (const std::uint8_t byte : Slice(0x01, {0xA0})) withAud.push_back(byte);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, withAud, false), 3);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x41, {0xC0}), true), 1);
  EXPECT_EQ(VaapiPictureType(Codec::Hevc, Slice(0x02, {0x01, 0xC0}), false), 2);
  EXPECT_EQ(VaapiPictureType(Codec::Avc, Slice(0x41, {}), false), 2)
      << "a truncated header counts as P";
}

}  // namespace
}  // namespace corvantis::amfrt
