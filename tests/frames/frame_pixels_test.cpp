#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "frame_test_support.h"
#include "platform/hresult_error.h"
#include "scenarios/frame_canvas.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

constexpr amf::amf_uint64 kVersion = amf::AMF_MAKE_FULL_VERSION(1, 4, 33, 0);

enum class Ink { Black, Tomato, Khaki, Other };

// Which colour a pixel is a grey-antialiased mix of with black (one step of rounding allowed).
Ink Classify(const Bgra& p) {
  if (p.R == 0 && p.G == 0 && p.B == 0) return Ink::Black;
  auto near = [](double actual, double expected) { return std::fabs(actual - expected) <= 1.5; };
  // Dark pixels may fit both; text is checked first because lines are checked on their own.
  const double khaki = p.R / 240.0;
  if (p.R <= 240 && near(p.G, 230 * khaki) && near(p.B, 140 * khaki)) return Ink::Khaki;
  const double tomato = p.R / 255.0;
  if (near(p.G, 99 * tomato) && near(p.B, 71 * tomato)) return Ink::Tomato;
  return Ink::Other;
}

class FrameCanvasTest : public ::testing::Test {
 protected:
  void SetUp() override { InitDrawingSession(session_); }
  void TearDown() override { ReleaseFrameCanvas(session_); }

  BenchmarkSession session_;
};

TEST_F(FrameCanvasTest, CanvasFollowsTheClipSize) {
  for (const std::uint32_t height : {360u, 720u, 1080u, 1440u, 2160u}) {
    const std::uint32_t width = height / 9 * 16;
    CreateFrameCanvas(session_, width, height);
    D3D11_TEXTURE2D_DESC desc;
    session_.FrameTexture->GetDesc(&desc);
    EXPECT_EQ(desc.Width, width);
    EXPECT_EQ(desc.Height, height);
    EXPECT_EQ(desc.BindFlags, 0x28u);
    EXPECT_EQ(session_.TextureDescription.Width, width);
    EXPECT_EQ(session_.TextFormat->GetFontSize(), static_cast<float>(height / 40));
    ReleaseFrameCanvas(session_);
  }
}

TEST_F(FrameCanvasTest, FailuresAreRaisedWithTheirCode) {
  EXPECT_EQ(RaisedCode([&] { CreateFrameCanvas(session_, 0, 360); }),
            static_cast<std::uint32_t>(E_INVALIDARG))
      << "a texture of width 0";
  ReleaseFrameCanvas(session_);
  ChartPoints points;
  EXPECT_THROW(DrawFrame(session_, L"x", 0, 0, 10, points), hresult_error);
}

TEST_F(FrameCanvasTest, FirstFrameIsBlackWithKhakiTextAndThreeTomatoLines) {
  CreateFrameCanvas(session_, 640, 360);
  ChartPoints points;
  RenderFrame(session_, 0, {640, 360, 260, 1, 30}, 0, 7800, 0, 0, points);
  ASSERT_EQ(points.size(), 1u);
  ID3D11Texture2D* frame = session_.FrameTexture.get();

  // Width-1 lines: centred on 202.5 and 337.5 they fill rows 202 and 337 exactly; centred on 270
  // they cover half of rows 269 and 270. Flat caps end them at x = 40 and x = 600.
  for (std::uint32_t x = 40; x < 600; ++x) {
    ASSERT_EQ(PixelAt(frame, x, 202), (Bgra{71, 99, 255, 255})) << x;
    ASSERT_EQ(PixelAt(frame, x, 337), (Bgra{71, 99, 255, 255})) << x;
    for (const std::uint32_t y : {269u, 270u}) {
      const Bgra half = PixelAt(frame, x, y);
      ASSERT_EQ(Classify(half), Ink::Tomato) << x;
      ASSERT_NEAR(half.R, 128, 1) << x;
    }
  }

  int khakiPixels = 0;
  int lowestKhakiRow = 0;
  for (std::uint32_t y = 0; y < 360; ++y) {
    for (std::uint32_t x = 0; x < 640; ++x) {
      const Bgra p = PixelAt(frame, x, y);
      ASSERT_EQ(p.A, 255) << x << "," << y;
      const bool onLine = x >= 40 && x < 600 && (y == 202 || y == 269 || y == 270 || y == 337);
      const Ink ink = Classify(p);
      if (onLine) continue;
      if (ink == Ink::Black) continue;
      ASSERT_EQ(ink, Ink::Khaki) << x << "," << y;
      ASSERT_TRUE(x >= 40 && x < 600 && y >= 22 && y < 338) << x << "," << y;
      ++khakiPixels;
      lowestKhakiRow = std::max(lowestKhakiRow, static_cast<int>(y));
    }
  }
  EXPECT_GT(khakiPixels, 300);
  // Three lines of a 9-pixel font end well above the chart.
  EXPECT_LT(lowestKhakiRow, 22 + 4 * 11);
}

TEST_F(FrameCanvasTest, EachLineEndStartsANewLine) {
  CreateFrameCanvas(session_, 640, 360);
  auto lowestTextRow = [&]() {
    int lowest = -1;
    for (std::uint32_t y = 0; y < 200; ++y)
      for (std::uint32_t x = 0; x < 640; ++x)
        if (Classify(PixelAt(session_.FrameTexture.get(), x, y)) == Ink::Khaki)
          lowest = static_cast<int>(y);
    return lowest;
  };
  ChartPoints points;
  DrawFrame(session_, L"Frame 0\r\n", 0, 0, 10, points);
  const int one = lowestTextRow();
  DrawFrame(session_, L"Frame 0\r\nFrame 0\r\n", 0, 0, 10, points);
  const int two = lowestTextRow();
  DrawFrame(session_, L"Frame 0\r\nFrame 0\r\nFrame 0\r\n", 0, 0, 10, points);
  const int three = lowestTextRow();
  ASSERT_GT(one, 22);
  EXPECT_GT(two - one, 8);
  // Line heights are fractional: baselines fall a pixel apart differently from line to line.
  EXPECT_NEAR(three - two, two - one, 1);
}

TEST_F(FrameCanvasTest, TheAverageCurveJoinsTheChartPoints) {
  CreateFrameCanvas(session_, 640, 360);
  ChartPoints points;
  DrawFrame(session_, L"", 0.0, 0, 100, points);    // (0, 338)
  DrawFrame(session_, L"", 20.0, 50, 100, points);  // (280, 203)
  ASSERT_EQ(points.size(), 2u);
  ASSERT_EQ(points[1].X, 280);
  // Midpoint of the 2-pixel line from (40, 338) to (320, 203), and a pixel well off it.
  EXPECT_EQ(PixelAt(session_.FrameTexture.get(), 180, 270), (Bgra{71, 99, 255, 255}));
  EXPECT_EQ(PixelAt(session_.FrameTexture.get(), 180, 240), (Bgra{0, 0, 0, 255}));
}

// Frames drawn on a target that repaints only what changed must equal frames drawn whole on a
// fresh target.
void ExpectSameAsFreshTarget(BenchmarkSession& session, BenchmarkSession& fresh,
                             const ClipScenario& clip, const std::wstring& adapter,
                             std::uint32_t frames) {
  std::mt19937 random(7);
  ChartPoints points, freshPoints;
  std::uint32_t window = 0;
  std::uint32_t sum = 0;
  const std::uint32_t total = clip.FrameCount();
  for (std::uint32_t k = 0; k < frames; ++k) {
    const std::uint32_t frame = k < frames / 2 ? k : k * 37;  // later frames jump across the chart
    const OverlayText overlay =
        ComposeOverlayText(kVersion, adapter.c_str(), clip, frame, window, sum);
    const double average = overlay.Average.value_or(0.0);
    DrawFrame(session, overlay.Text, average, frame, total, points);
    if (k % 3 == 1) DrawFrame(session, overlay.Text, average, frame, total, points);  // sent again

    ReleaseFrameCanvas(fresh);
    CreateFrameCanvas(fresh, clip.Width, clip.Height);
    // The frame's point is already in the list, so the fresh target adds none.
    freshPoints = points;
    DrawFrame(fresh, overlay.Text, average, frame, total, freshPoints);
    ASSERT_EQ(freshPoints.size(), points.size());
    ASSERT_EQ(FirstDifference(session.FrameTexture.get(), fresh.FrameTexture.get()), "")
        << "frame " << k;

    // Averages up to 40 ms with an occasional huge one that leaves the picture.
    const std::uint32_t latency = (k % 17 == 16) ? 100000 : random() % 40;
    window = std::min(window + 1, 32u);
    sum = latency * window;
  }
}

TEST_F(FrameCanvasTest, RepaintingChangesEqualsDrawingWhole) {
  BenchmarkSession fresh;
  InitDrawingSession(fresh);
  CreateFrameCanvas(session_, 640, 360);
  ExpectSameAsFreshTarget(session_, fresh, {640, 360, 260, 1, 30}, L"Software Adapter", 60);
  ReleaseFrameCanvas(session_);
  ReleaseFrameCanvas(fresh);
  // An adapter name long enough to wrap inside the text rectangle.
  CreateFrameCanvas(session_, 1280, 720);
  ExpectSameAsFreshTarget(session_, fresh, {1280, 720, 120, 1, 30},
                          std::wstring(60, L'W') + L" " + std::wstring(40, L'i'), 40);
  ReleaseFrameCanvas(fresh);
}

}  // namespace

}  // namespace corvantis
