#include "amfrt/frame_conversion.h"
#include "amfrt/split_conversion.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "tests/amfrt/colour_reference.h"

namespace corvantis {

namespace {

using amfrt::ConvertBgraToI420;
using amfrt::ConvertBgraToNv12;
using amfrt::I420Planes;
using amfrt::Nv12Planes;

// Bytes that end where a page no access is allowed to begins, so that a read or write one byte
// past them faults even inside libraries built without the sanitizer.
class GuardedBytes {
 public:
  explicit GuardedBytes(std::size_t size) : size_(size) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mapped_ = (size + page - 1) / page * page + page;
    base_ = static_cast<std::uint8_t*>(
        mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base_ == MAP_FAILED) throw std::bad_alloc();
    mprotect(base_ + mapped_ - page, page, PROT_NONE);
    data_ = base_ + mapped_ - page - size;
  }
  ~GuardedBytes() { munmap(base_, mapped_); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  std::uint8_t* data() { return data_; }
  std::uint8_t& operator[](std::size_t i) { return data_[i]; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  std::size_t mapped_ = 0;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};

struct I420Picture {
  int Width, Height, ChromaWidth, ChromaHeight;
  std::vector<std::uint8_t> Y, U, V;
  I420Picture(int w, int h)
      : Width(w),
        Height(h),
        ChromaWidth((w + 1) / 2),
        ChromaHeight((h + 1) / 2),
        Y(static_cast<std::size_t>(w) * h),
        U(static_cast<std::size_t>(ChromaWidth) * ChromaHeight),
        V(U.size()) {}
  I420Planes Planes() { return {Y.data(), Width, U.data(), ChromaWidth, V.data(), ChromaWidth}; }
};

TEST(FrameConversion, IsBt601LimitedRangeAsSwscaleConvertsIt) {
  // Uniform 2x2 blocks, so that how chroma is sampled does not matter, of random colours and the
  // program's own (black, khaki, tomato) and the saturated ones.
  constexpr int kWidth = 96, kHeight = 64;
  std::vector<Rgb> colours = {{0, 0, 0},     {240, 230, 140}, {255, 99, 71}, {255, 255, 255},
                              {255, 0, 0},   {0, 255, 0},     {0, 0, 255},   {255, 255, 0},
                              {0, 255, 255}, {255, 0, 255}};
  std::mt19937 random(7);
  while (colours.size() < static_cast<std::size_t>(kWidth / 2 * kHeight / 2))
    colours.push_back({static_cast<int>(random() % 256), static_cast<int>(random() % 256),
                       static_cast<int>(random() % 256)});
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      PutBgra(&bgra[(static_cast<std::size_t>(y) * kWidth + x) * 4],
              colours[(y / 2) * (kWidth / 2) + x / 2]);

  I420Picture ours(kWidth, kHeight);
  ASSERT_TRUE(ConvertBgraToI420(bgra.data(), kWidth * 4, kWidth, kHeight, ours.Planes()));
  I420Picture theirs(kWidth, kHeight);
  SwsContext* scaler = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGRA, kWidth, kHeight,
                                      AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr);
  ASSERT_NE(scaler, nullptr);
  const std::uint8_t* source[] = {bgra.data()};
  const int sourceStride[] = {kWidth * 4};
  std::uint8_t* planes[] = {theirs.Y.data(), theirs.U.data(), theirs.V.data()};
  const int strides[] = {kWidth, kWidth / 2, kWidth / 2};
  sws_scale(scaler, source, sourceStride, 0, kHeight, planes, strides);
  sws_freeContext(scaler);

  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * kWidth + x;
      const Rgb c = colours[(y / 2) * (kWidth / 2) + x / 2];
      ASSERT_NEAR(ours.Y[i], theirs.Y[i], 1) << x << "," << y;
      ASSERT_NEAR(ours.Y[i], LimitedYuv(c).Y, 1.0) << x << "," << y;
    }
  for (std::size_t i = 0; i < ours.U.size(); ++i) {
    ASSERT_NEAR(ours.U[i], theirs.U[i], 1) << i;
    ASSERT_NEAR(ours.V[i], theirs.V[i], 1) << i;
    ASSERT_NEAR(ours.U[i], LimitedYuv(colours[i]).U, 1.5) << i;
    ASSERT_NEAR(ours.V[i], LimitedYuv(colours[i]).V, 1.5) << i;
  }
}

TEST(FrameConversion, ChromaIsTheMeanOfEachBlockNotOneSampleOfIt) {
  // Red and blue pixels in every 2x2 block: one sample would give pure red or blue chroma.
  constexpr int kWidth = 32, kHeight = 16;
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      PutBgra(&bgra[(static_cast<std::size_t>(y) * kWidth + x) * 4],
              (x + y) % 2 == 0 ? Rgb{255, 0, 0} : Rgb{0, 0, 255});
  const Rgb mean{128, 0, 128};
  I420Picture i420(kWidth, kHeight);
  ASSERT_TRUE(ConvertBgraToI420(bgra.data(), kWidth * 4, kWidth, kHeight, i420.Planes()));
  std::vector<std::uint8_t> nv12Y(static_cast<std::size_t>(kWidth) * kHeight),
      nv12Uv(nv12Y.size() / 2);
  ASSERT_TRUE(ConvertBgraToNv12(bgra.data(), kWidth * 4, kWidth, kHeight,
                                {nv12Y.data(), kWidth, nv12Uv.data(), kWidth}));
  for (std::size_t i = 0; i < i420.U.size(); ++i) {
    EXPECT_NEAR(i420.U[i], LimitedYuv(mean).U, 1.5) << i;
    EXPECT_NEAR(i420.V[i], LimitedYuv(mean).V, 1.5) << i;
    EXPECT_EQ(nv12Uv[2 * i], i420.U[i]) << i;
    EXPECT_EQ(nv12Uv[2 * i + 1], i420.V[i]) << i;
  }
  EXPECT_EQ(nv12Y, i420.Y);
}

class OddSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(OddSizes, ConvertEveryEdgeSampleWithinTheBuffersGiven) {
  const auto [width, height] = GetParam();
  const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  const Rgb khaki{240, 230, 140};
  // Tightest strides and planes; every buffer ends at a guard page.
  GuardedBytes bgra(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < bgra.size(); i += 4) PutBgra(&bgra[i], khaki);
  GuardedBytes y(static_cast<std::size_t>(width) * height);
  GuardedBytes u(static_cast<std::size_t>(chromaWidth) * chromaHeight);
  GuardedBytes v(u.size());
  GuardedBytes uv(2 * u.size());
  ASSERT_TRUE(ConvertBgraToI420(bgra.data(), width * 4, width, height,
                                {y.data(), width, u.data(), chromaWidth, v.data(), chromaWidth}));
  for (std::size_t i = 0; i < y.size(); ++i) ASSERT_NEAR(y[i], LimitedYuv(khaki).Y, 1.0) << i;
  for (std::size_t i = 0; i < u.size(); ++i) {
    ASSERT_NEAR(u[i], LimitedYuv(khaki).U, 1.5) << i;
    ASSERT_NEAR(v[i], LimitedYuv(khaki).V, 1.5) << i;
  }
  ASSERT_TRUE(ConvertBgraToNv12(bgra.data(), width * 4, width, height,
                                {y.data(), width, uv.data(), 2 * chromaWidth}));
  for (std::size_t i = 0; i < u.size(); ++i) {
    ASSERT_EQ(uv[2 * i], u[i]) << i;
    ASSERT_EQ(uv[2 * i + 1], v[i]) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OddSizes,
                         ::testing::Values(std::pair{1, 1}, std::pair{3, 5}, std::pair{17, 9},
                                           std::pair{33, 2}, std::pair{2, 33}, std::pair{330, 186},
                                           std::pair{641, 361}));

TEST(FrameConversion, RefusesWhatWouldReachOutsideItsBuffersAndWritesNothing) {
  std::vector<std::uint8_t> bgra(16 * 16 * 4, 0x80);
  std::vector<std::uint8_t> y(16 * 16, 7), u(8 * 8, 7), v(8 * 8, 7), uv(16 * 8, 7);
  const I420Planes good{y.data(), 16, u.data(), 8, v.data(), 8};
  EXPECT_FALSE(ConvertBgraToI420(nullptr, 64, 16, 16, good));
  EXPECT_FALSE(ConvertBgraToI420(bgra.data(), 64, 0, 16, good));
  EXPECT_FALSE(ConvertBgraToI420(bgra.data(), 64, 16, -16, good))
      << "libyuv would read it bottom-up";
  EXPECT_FALSE(ConvertBgraToI420(bgra.data(), 60, 16, 16, good)) << "a row longer than the pitch";
  EXPECT_FALSE(
      ConvertBgraToI420(bgra.data(), 64, 16, 16, {y.data(), 15, u.data(), 8, v.data(), 8}));
  EXPECT_FALSE(
      ConvertBgraToI420(bgra.data(), 64, 16, 16, {y.data(), 16, u.data(), 7, v.data(), 8}));
  EXPECT_FALSE(ConvertBgraToI420(bgra.data(), 64, 16, 16, {y.data(), 16, nullptr, 8, v.data(), 8}));
  EXPECT_FALSE(ConvertBgraToNv12(bgra.data(), 64, 16, 16, {y.data(), 16, uv.data(), 15}));
  EXPECT_FALSE(ConvertBgraToNv12(bgra.data(), 64, 16, 16, {y.data(), 16, nullptr, 16}));
  for (const auto* plane : {&y, &u, &v, &uv})
    for (std::uint8_t byte : *plane) ASSERT_EQ(byte, 7);
  EXPECT_TRUE(ConvertBgraToI420(bgra.data(), 64, 16, 16, good));
}

class SplitSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SplitSizes, TwoHalvesGiveTheBytesOfOneConversionInsideTheirBuffers) {
  const auto [width, height] = GetParam();
  const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
  std::mt19937 random(static_cast<unsigned>(width * 31 + height));
  for (std::uint8_t& byte : bgra) byte = static_cast<std::uint8_t>(random());
  I420Picture whole(width, height);
  ASSERT_TRUE(ConvertBgraToI420(bgra.data(), width * 4, width, height, whole.Planes()));

  GuardedBytes y(static_cast<std::size_t>(width) * height);
  GuardedBytes u(static_cast<std::size_t>(chromaWidth) * chromaHeight);
  GuardedBytes v(u.size());
  amfrt::SplitConverter converter;
  // Many pictures in a row: the hand-over to the helper thread and its taking back both happen.
  for (int round = 0; round < 20; ++round) {
    std::memset(y.data(), 0, y.size());
    std::memset(u.data(), 0, u.size());
    std::memset(v.data(), 0, v.size());
    ASSERT_TRUE(converter.Convert(
        bgra.data(), width * 4, width, height,
        I420Planes{y.data(), width, u.data(), chromaWidth, v.data(), chromaWidth}));
    ASSERT_EQ(std::memcmp(y.data(), whole.Y.data(), y.size()), 0) << round;
    ASSERT_EQ(std::memcmp(u.data(), whole.U.data(), u.size()), 0) << round;
    ASSERT_EQ(std::memcmp(v.data(), whole.V.data(), v.size()), 0) << round;
  }
  EXPECT_FALSE(
      converter.Convert(bgra.data(), width * 4 - 4, width, height,
                        I420Planes{y.data(), width, u.data(), chromaWidth, v.data(), chromaWidth}));

  // NV12 likewise, with the same converter.
  std::vector<std::uint8_t> wholeY(y.size()), wholeUv(2 * u.size());
  ASSERT_TRUE(ConvertBgraToNv12(bgra.data(), width * 4, width, height,
                                {wholeY.data(), width, wholeUv.data(), 2 * chromaWidth}));
  GuardedBytes uv(wholeUv.size());
  for (int round = 0; round < 20; ++round) {
    std::memset(y.data(), 0, y.size());
    std::memset(uv.data(), 0, uv.size());
    ASSERT_TRUE(converter.Convert(bgra.data(), width * 4, width, height,
                                  Nv12Planes{y.data(), width, uv.data(), 2 * chromaWidth}));
    ASSERT_EQ(std::memcmp(y.data(), wholeY.data(), y.size()), 0) << round;
    ASSERT_EQ(std::memcmp(uv.data(), wholeUv.data(), uv.size()), 0) << round;
  }
}

// Split and unsplit sizes, odd ones among them.
INSTANTIATE_TEST_SUITE_P(Sizes, SplitSizes,
                         ::testing::Values(std::pair{320, 180}, std::pair{1280, 720},
                                           std::pair{1281, 723}, std::pair{1920, 1080},
                                           std::pair{4000, 242}));

}  // namespace

}  // namespace corvantis
