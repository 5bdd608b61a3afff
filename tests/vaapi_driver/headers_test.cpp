// The tests' driver writes the parameter sets the real AMD encoders write, and FFmpeg's reader
// (through the stream checker) reads them as a decoder would: every field where the writer put it,
// the faults of the real driver included.
#include <gtest/gtest.h>

#include "tests/vaapi_driver/headers.h"
#include "tests/vaapi_driver/stream_check.h"

namespace corvantis::vadriver {
namespace {

using streamcheck::Codec;

// What libavcodec's h264_vaapi / hevc_vaapi hand over for a 640x360 clip at 144 fps: a context
// and sequence rounded up to 16 rows, its level, VUI timing.
HeaderInput Clip(VAProfile profile, std::uint32_t intraPeriod) {
  HeaderInput in;
  in.profile = profile;
  in.width = 640;
  in.height = 368;
  in.idr = true;
  in.h264.level_idc = 31;
  in.h264.max_num_ref_frames = 1;
  in.h264.seq_fields.bits.pic_order_cnt_type = 2;
  in.h264.frame_cropping_flag = 1;
  in.h264.frame_crop_bottom_offset = 4;
  in.h264.vui_parameters_present_flag = 1;
  in.h264.vui_fields.bits.timing_info_present_flag = 1;
  in.h264.num_units_in_tick = 1;
  in.h264.time_scale = 288;
  in.h264Picture.pic_fields.bits.entropy_coding_mode_flag = 1;
  in.h264Picture.pic_fields.bits.deblocking_filter_control_present_flag = 1;
  in.hevc.general_profile_idc = 1;
  in.hevc.general_level_idc = 120;
  in.hevc.intra_period = intraPeriod;
  in.hevc.seq_fields.bits.chroma_format_idc = 1;
  in.hevc.seq_fields.bits.amp_enabled_flag = 1;
  in.hevc.seq_fields.bits.sample_adaptive_offset_enabled_flag = 1;
  in.hevc.log2_diff_max_min_luma_coding_block_size = 2;
  in.hevc.log2_diff_max_min_transform_block_size = 3;
  in.hevc.vui_parameters_present_flag = 1;
  in.hevc.vui_fields.bits.vui_timing_info_present_flag = 1;
  in.hevc.vui_num_units_in_tick = 1;
  in.hevc.vui_time_scale = 144;
  in.conformanceWindow = std::array<std::uint32_t, 4>{0, 0, 0, 4};
  return in;
}

std::vector<std::uint8_t> Reordered(const std::vector<std::uint8_t>& s,
                                    const std::vector<int>& order) {
  // The units as start code + bytes up to the next start code, by HEVC type.
  std::vector<std::pair<int, std::vector<std::uint8_t>>> units;
  for (std::size_t i = 0; i + 4 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 0 && s[i + 3] == 1) {
      units.push_back({s[i + 4] >> 1 & 0x3f, {}});
      i += 3;
    } else if (!units.empty()) {
      units.back().second.push_back(s[i]);
    }
  if (!units.empty()) units.back().second.insert(units.back().second.end(), s.end() - 4, s.end());
  std::vector<std::uint8_t> out;
  for (int type : order)
    for (const auto& [t, bytes] : units)
      if (t == type) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), bytes.begin(), bytes.end());
      }
  return out;
}

// Catches a writer that is off by a bit anywhere (FFmpeg would misread or refuse a later field or
// the trailing bits), a missing emulation-prevention byte (the profile's reserved zeros need
// them), and a driver that no longer makes the real driver's mistakes: the POC length of a one-IDR
// period, PPS before SPS, no colour description.
TEST(FirmwareHeaders, ReadByFfmpegAsTheRealEncodersWriteThem) {
  // VCN, HEVC, a period of 2^30: POC lsb of 31 bits, which FFmpeg refuses, and PPS before SPS.
  const std::vector<std::uint8_t> vcnHevc =
      FirmwareHeaders(HeaderWriter::Vcn, Clip(VAProfileHEVCMain, 1u << 30));
  streamcheck::Report r = streamcheck::CheckStream(vcnHevc, Codec::Hevc);
  EXPECT_EQ(r.ParameterSets, (std::vector<int>{32, 34, 33}));
  EXPECT_FALSE(r.DecodingOrder);
  EXPECT_FALSE(r.ParameterSetsRead);
  EXPECT_EQ(r.Error, "SPS id 0 not available.") << "the PPS is read before its SPS";
  EXPECT_EQ(r.Log2MaxPocLsb, 31);
  EXPECT_FALSE(r.LengthsLegal);
  EXPECT_EQ(std::pair(r.CodedWidth, r.CodedHeight), std::pair(640, 368));
  EXPECT_EQ(std::pair(r.Width, r.Height), std::pair(640, 360));
  EXPECT_EQ(PackedConformanceWindow(vcnHevc), Clip(VAProfileHEVCMain, 0).conformanceWindow)
      << "the window as Mesa reads it from a packed SPS";

  // The same units in decoding order with a legal period: every field read, PPS included.
  r = streamcheck::CheckStream(
      Reordered(FirmwareHeaders(HeaderWriter::Vcn, Clip(VAProfileHEVCMain, 64)), {35, 32, 33, 34}),
      Codec::Hevc);
  EXPECT_TRUE(r.ParameterSetsRead) << r.Error;
  EXPECT_TRUE(r.DecodingOrder);
  EXPECT_TRUE(r.LengthsLegal);
  EXPECT_EQ(r.Log2MaxPocLsb, 7) << "max_poc 64, one bit more";
  EXPECT_EQ(std::tuple(r.Profile, r.Level, r.Rate), std::tuple(1, 120, 144.0));
  EXPECT_FALSE(r.VideoSignalType) << "VCN writes no colour description";

  // UVD-enc: the same layout without VUI.
  r = streamcheck::CheckStream(
      Reordered(FirmwareHeaders(HeaderWriter::VceUvd, Clip(VAProfileHEVCMain, 64)),
                {35, 32, 33, 34}),
      Codec::Hevc);
  EXPECT_TRUE(r.ParameterSetsRead) << r.Error;
  EXPECT_EQ(std::tuple(r.Width, r.Height, r.Rate), std::tuple(640, 360, 0.0));

  // VCN and VCE, H.264: delimiter (VCN only), SPS, PPS, read as written.
  struct Case {
    HeaderWriter Writer;
    std::vector<int> Sets;
    int PocLsb, FrameNum;
    double Rate;
  };
  for (const Case& c : {Case{HeaderWriter::Vcn, {7, 8}, 0, 5, 144.0},
                        Case{HeaderWriter::VceUvd, {7, 8}, 4, 4, 0.0}}) {
    const std::vector<std::uint8_t> avc = FirmwareHeaders(c.Writer, Clip(VAProfileH264High, 0));
    EXPECT_EQ(avc[4] == 9, c.Writer == HeaderWriter::Vcn) << "the delimiter";
    r = streamcheck::CheckStream(avc, Codec::Avc);
    EXPECT_TRUE(r.ParameterSetsRead) << r.Error;
    EXPECT_EQ(r.ParameterSets, c.Sets);
    EXPECT_TRUE(r.LengthsLegal);
    EXPECT_EQ(std::tuple(r.Log2MaxPocLsb, r.Log2MaxFrameNum), std::tuple(c.PocLsb, c.FrameNum));
    EXPECT_EQ(std::tuple(r.Profile, r.Level, r.Width, r.Height, r.Rate),
              std::tuple(100, 31, 640, 360, c.Rate));
  }
}

}  // namespace
}  // namespace corvantis::vadriver
