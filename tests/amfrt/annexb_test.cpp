#include "amfrt/annexb.h"

#include <gtest/gtest.h>

namespace amfrt {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> ReadAll(const Bytes& stream) {
  std::vector<Bytes> nals;
  NalReader reader(stream);
  std::span<const std::uint8_t> nal;
  while (reader.Next(&nal)) nals.emplace_back(nal.begin(), nal.end());
  return nals;
}

TEST(NalReader, SplitsOnThreeAndFourByteStartCodesAndDropsTrailingZeros) {
  const Bytes stream{0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0, 0, 1, 0x68, 0xEE, 0, 0, 0, 0, 1, 0x65, 0x88, 0x84, 0};
  const auto nals = ReadAll(stream);
  ASSERT_EQ(nals.size(), 3u);
  EXPECT_EQ(nals[0], (Bytes{0x67, 0x64, 0x00, 0x1F}));  // an inner 00 stays
  EXPECT_EQ(nals[1], (Bytes{0x68, 0xEE}));
  EXPECT_EQ(nals[2], (Bytes{0x65, 0x88, 0x84}));
}

TEST(NalReader, IgnoresBytesBeforeTheFirstStartCodeAndEmptyUnits) {
  EXPECT_TRUE(ReadAll(Bytes{}).empty());
  EXPECT_TRUE(ReadAll(Bytes{1, 2, 3}).empty());
  const auto nals = ReadAll(Bytes{7, 0, 0, 1, 0, 0, 1, 0x41, 0x9A});
  ASSERT_EQ(nals.size(), 1u);
  EXPECT_EQ(nals[0], (Bytes{0x41, 0x9A}));
}

TEST(ParameterSets, KeepOnlyVpsSpsAndPps) {
  // x265's headers may carry an SEI after the parameter sets.
  const Bytes hevc{0, 0, 0, 1, 0x40, 0x01, 0xAA, 0, 0, 0, 1, 0x42, 0x01, 0xBB, 0, 0, 0, 1, 0x44, 0x01, 0xCC,
                   0, 0, 0, 1, 0x4E, 0x01, 0x05, 0xDD};
  EXPECT_EQ(ExtractParameterSets(Codec::Hevc, hevc),
            (Bytes{0, 0, 0, 1, 0x40, 0x01, 0xAA, 0, 0, 0, 1, 0x42, 0x01, 0xBB, 0, 0, 0, 1, 0x44, 0x01, 0xCC}));
  const Bytes avc{0, 0, 1, 0x67, 0x64, 0, 0, 1, 0x68, 0xEE, 0, 0, 1, 0x06, 0x05};
  EXPECT_EQ(ExtractParameterSets(Codec::Avc, avc), (Bytes{0, 0, 0, 1, 0x67, 0x64, 0, 0, 0, 1, 0x68, 0xEE}));
}

TEST(ClassifyFrame, IdrComesFromTheSlicesAndTheRestFromThePictureType) {
  const Bytes avcIdr{0, 0, 0, 1, 0x06, 0x05, 0, 0, 0, 1, 0x65, 0x88};
  const Bytes avcSlice{0, 0, 0, 1, 0x41, 0x9A};
  EXPECT_EQ(ClassifyFrame(Codec::Avc, avcIdr, 1), FrameType::Idr);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, avcSlice, 1), FrameType::I);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, avcSlice, 2), FrameType::P);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, avcSlice, 3), FrameType::B);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, avcSlice, 0), FrameType::P);
  const Bytes hevcIdrNoLeading{0, 0, 0, 1, 20 << 1, 0x01, 0xAF};
  const Bytes hevcIdrLeading{0, 0, 0, 1, 19 << 1, 0x01, 0xAF};
  const Bytes hevcCra{0, 0, 0, 1, 21 << 1, 0x01, 0xAF};
  const Bytes hevcTrail{0, 0, 0, 1, 1 << 1, 0x01, 0xAF};
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, hevcIdrNoLeading, 1), FrameType::Idr);
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, hevcIdrLeading, 1), FrameType::Idr);
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, hevcCra, 1), FrameType::I);
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, hevcTrail, 2), FrameType::P);
}

TEST(BuildAccessUnit, PutsDelimiterAndHeadersFirstAndDropsTheEncodersOwn) {
  const Bytes sets{0, 0, 0, 1, 0x67, 0x64, 0, 0, 0, 1, 0x68, 0xEE};
  // The packet brings its own AUD and a repeated SPS, which must not appear twice.
  const Bytes packet{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x67, 0x64, 0, 0, 1, 0x65, 0x88, 0, 0, 1, 0x65, 0x99};
  Bytes out{0xFF};
  BuildAccessUnit(Codec::Avc, FrameType::Idr, true, sets, packet, out);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x09, 0x10, 0, 0, 0, 1, 0x67, 0x64, 0, 0, 0, 1, 0x68, 0xEE, 0, 0, 0, 1, 0x65,
                        0x88, 0, 0, 0, 1, 0x65, 0x99}));
  BuildAccessUnit(Codec::Avc, FrameType::P, false, {}, packet, out);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x65, 0x88, 0, 0, 0, 1, 0x65, 0x99}));
}

TEST(BuildAccessUnit, DelimiterCarriesThePictureType) {
  const Bytes packet{0, 0, 1, 0x41, 0x9A};
  Bytes out;
  const std::pair<FrameType, std::uint8_t> avc[] = {
      {FrameType::Idr, 0x10}, {FrameType::I, 0x10}, {FrameType::P, 0x30}, {FrameType::B, 0x50}};
  for (const auto& [type, payload] : avc) {
    BuildAccessUnit(Codec::Avc, type, true, {}, packet, out);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{0, 0, 0, 1, 0x09, payload}));
  }
  const Bytes hevcPacket{0, 0, 1, 0x02, 0x01, 0xD0};
  BuildAccessUnit(Codec::Hevc, FrameType::P, true, {}, hevcPacket, out);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x46, 0x01, 0x30, 0, 0, 0, 1, 0x02, 0x01, 0xD0}));
  BuildAccessUnit(Codec::Hevc, FrameType::Idr, true, {}, hevcPacket, out);
  EXPECT_EQ(out[6], 0x10);
}

}  // namespace
}  // namespace amfrt
