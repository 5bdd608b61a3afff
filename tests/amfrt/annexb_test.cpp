#include "amfrt/annexb.h"

#include <gtest/gtest.h>

namespace corvantis::amfrt {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(NalReader, SplitsOnBothStartCodesAndDropsTrailingZeros) {
  const Bytes stream{7, 0, 0,    0,    1, 0x67, 0x64, 0x00, 0x1F, 0,    0,    1, 0,
                     0, 1, 0x68, 0xEE, 0, 0,    0,    0,    1,    0x65, 0x88, 0};
  NalReader reader(stream);
  std::vector<Bytes> nals;
  for (std::span<const std::uint8_t> nal; reader.Next(&nal);)
    nals.emplace_back(nal.begin(), nal.end());
  // Bytes before the first start code and empty units are skipped; an inner zero stays.
  EXPECT_EQ(nals, (std::vector<Bytes>{{0x67, 0x64, 0x00, 0x1F}, {0x68, 0xEE}, {0x65, 0x88}}));
}

// Fault: VCN's VPS, PPS, SPS kept in that order, so that a decoder drops the PPS.
TEST(ParameterSets, KeepOnlyVpsSpsAndPpsInDecodingOrder) {
  const Bytes hevc{0,    0,    0, 1, 0x46, 0x01, 0x10, 0,    0, 1, 0x40, 0x01, 0xAA, 0, 0, 1, 0x44,
                   0x01, 0xCC, 0, 0, 1,    0x42, 0x01, 0xBB, 0, 0, 1,    0x26, 0x01};
  EXPECT_EQ(ExtractParameterSets(Codec::Hevc, hevc),
            (Bytes{0,    0,    0,    1, 0x40, 0x01, 0xAA, 0,    0,    0,   1,
                   0x42, 0x01, 0xBB, 0, 0,    0,    1,    0x44, 0x01, 0xCC}));
}

TEST(ClassifyFrame, IdrFromTheSlicesTheRestFromThePictureType) {
  EXPECT_EQ(ClassifyFrame(Codec::Avc, Bytes{0, 0, 1, 0x06, 0x05, 0, 0, 1, 0x65, 0x88}, 1),
            FrameType::Idr);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, Bytes{0, 0, 1, 0x41, 0x9A}, 1), FrameType::I);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, Bytes{0, 0, 1, 0x41, 0x9A}, 3), FrameType::B);
  EXPECT_EQ(ClassifyFrame(Codec::Avc, Bytes{0, 0, 1, 0x41, 0x9A}, 0), FrameType::P);
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, Bytes{0, 0, 1, 19 << 1, 0x01, 0xAF}, 1), FrameType::Idr);
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, Bytes{0, 0, 1, 20 << 1, 0x01, 0xAF}, 1), FrameType::Idr);
  EXPECT_EQ(ClassifyFrame(Codec::Hevc, Bytes{0, 0, 1, 21 << 1, 0x01, 0xAF}, 2), FrameType::I);
}

TEST(BuildAccessUnit, DelimiterAndHeadersFirstAndNoneOfTheEncodersOwn) {
  const Bytes sets{0, 0, 0, 1, 0x67, 0x64, 0, 0, 0, 1, 0x68, 0xEE};
  const Bytes packet{0, 0, 0, 1,    0x09, 0xF0, 0, 0, 1,    0x67, 0x64,
                     0, 0, 1, 0x65, 0x88, 0,    0, 1, 0x65, 0x99};
  Bytes out{0xFF};
  BuildAccessUnit(Codec::Avc, FrameType::Idr, true, sets, packet, out);
  EXPECT_EQ(out, (Bytes{0,    0,    0, 1, 0x09, 0x10, 0,    0,    0, 1, 0x67, 0x64, 0,    0,   0, 1,
                        0x68, 0xEE, 0, 0, 0,    1,    0x65, 0x88, 0, 0, 0,    1,    0x65, 0x99}));
  BuildAccessUnit(Codec::Avc, FrameType::B, true, {}, packet, out);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x09, 0x50, 0, 0, 0, 1, 0x65, 0x88, 0, 0, 0, 1, 0x65, 0x99}));
  BuildAccessUnit(Codec::Hevc, FrameType::P, true, {}, Bytes{0, 0, 1, 0x02, 0x01, 0xD0}, out);
  EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x46, 0x01, 0x30, 0, 0, 0, 1, 0x02, 0x01, 0xD0}));
}

}  // namespace
}  // namespace corvantis::amfrt
