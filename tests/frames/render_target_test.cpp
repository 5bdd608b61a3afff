#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "frame_test_support.h"

namespace corvantis {

namespace {

constexpr D2D1_COLOR_F kBlack{0, 0, 0, 1};
constexpr D2D1_COLOR_F kTomato{1.0f, 99.0f / 255.0f, 71.0f / 255.0f, 1.0f};

class RenderTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitDrawingSession(session_);
    texture_ = NewTexture(200, 100);
    ASSERT_EQ(session_.D2DFactory->CreateDxgiSurfaceRenderTarget(texture_.get(), target_.put()),
              S_OK);
    ASSERT_EQ(target_->CreateSolidColorBrush(kBlack, black_.put()), S_OK);
    ASSERT_EQ(target_->CreateSolidColorBrush(kTomato, tomato_.put()), S_OK);
  }

  com_ptr<ID3D11Texture2D> NewTexture(std::uint32_t width, std::uint32_t height,
                                      std::uint32_t usage = D3D11_USAGE_DEFAULT,
                                      std::uint32_t bind = 0x28) {
    D3D11_TEXTURE2D_DESC desc = session_.TextureDescription;
    desc.Width = width;
    desc.Height = height;
    desc.Usage = usage;
    desc.BindFlags = bind;
    desc.CPUAccessFlags = usage == D3D11_USAGE_STAGING ? D3D11_CPU_ACCESS_READ : 0;
    com_ptr<ID3D11Texture2D> texture;
    EXPECT_EQ(session_.Device->CreateTexture2D(&desc, nullptr, texture.put()), S_OK);
    return texture;
  }

  BenchmarkSession session_;
  com_ptr<ID3D11Texture2D> texture_;
  com_ptr<ID2D1RenderTarget> target_;
  com_ptr<ID2D1SolidColorBrush> black_;
  com_ptr<ID2D1SolidColorBrush> tomato_;
};

// A texture whose rows are too short for its width.
class ShortRowTexture final : public RefCounted<ID3D11Texture2D> {
 public:
  void GetDesc(D3D11_TEXTURE2D_DESC* desc) const override {
    *desc = BenchmarkSession::InitialTextureDescription();
    desc->Width = 64;
    desc->Height = 4;
    desc->BindFlags = 0x28;
  }
  std::uint8_t* Pixels() noexcept override { return pixels_.data(); }
  std::uint32_t RowPitch() const noexcept override { return 64 * 4 - 4; }
  VASurfaceID VideoSurface() const noexcept override { return VA_INVALID_SURFACE; }

 private:
  std::vector<std::uint8_t> pixels_ = std::vector<std::uint8_t>(64 * 4 * 4);
};

TEST_F(RenderTargetTest, TexturesItCannotDrawIntoAreRefused) {
  com_ptr<ID2D1RenderTarget> target;
  EXPECT_EQ(session_.D2DFactory->CreateDxgiSurfaceRenderTarget(nullptr, target.put()),
            E_INVALIDARG);
  auto staging = NewTexture(16, 16, D3D11_USAGE_STAGING, 0);
  EXPECT_EQ(session_.D2DFactory->CreateDxgiSurfaceRenderTarget(staging.get(), target.put()),
            E_INVALIDARG);
  auto shaderOnly = NewTexture(16, 16, D3D11_USAGE_DEFAULT, D3D11_BIND_SHADER_RESOURCE);
  EXPECT_EQ(session_.D2DFactory->CreateDxgiSurfaceRenderTarget(shaderOnly.get(), target.put()),
            E_INVALIDARG);
  auto shortRows = com_ptr<ID3D11Texture2D>::attach(new ShortRowTexture());
  EXPECT_EQ(session_.D2DFactory->CreateDxgiSurfaceRenderTarget(shortRows.get(), target.put()),
            E_INVALIDARG);
  EXPECT_FALSE(target);
}

TEST_F(RenderTargetTest, CallsOutsideADrawAreReportedByEndDraw) {
  EXPECT_EQ(target_->EndDraw(), D2DERR_WRONG_STATE);

  target_->FillRectangle({0, 0, 10, 10}, tomato_.get());
  target_->BeginDraw();
  EXPECT_EQ(target_->EndDraw(), D2DERR_WRONG_STATE);
  EXPECT_EQ(PixelAt(texture_.get(), 5, 5), (Bgra{0, 0, 0, 0})) << "drawn outside BeginDraw";

  target_->BeginDraw();
  target_->BeginDraw();
  EXPECT_EQ(target_->EndDraw(), D2DERR_WRONG_STATE);

  target_->BeginDraw();
  EXPECT_EQ(target_->EndDraw(), S_OK);
}

TEST_F(RenderTargetTest, InvalidArgumentsFailTheDrawButTheRestIsDrawn) {
  target_->BeginDraw();
  target_->FillRectangle({0, 0, 200, 100}, nullptr);
  target_->DrawText(L"x", 1, nullptr, {0, 0, 100, 100}, tomato_.get());
  target_->FillRectangle({10, 10, 20, 20}, tomato_.get());
  EXPECT_EQ(target_->EndDraw(), E_INVALIDARG);
  EXPECT_EQ(PixelAt(texture_.get(), 15, 15), (Bgra{71, 99, 255, 255}));
  target_->BeginDraw();
  EXPECT_EQ(target_->EndDraw(), S_OK);
}

TEST_F(RenderTargetTest, FarAwayEndPointsDrawTheVisiblePart) {
  target_->BeginDraw();
  target_->FillRectangle({0, 0, 200, 100}, black_.get());
  target_->DrawLine({100.5f, 50}, {100.5f, -2.1e9f}, tomato_.get(), 1.0f);
  target_->DrawLine({-3.0e38f, 80.5f}, {3.0e38f, 80.5f}, tomato_.get(), 1.0f);
  ASSERT_EQ(target_->EndDraw(), S_OK);
  for (std::uint32_t y = 0; y < 50; ++y) ASSERT_EQ(PixelAt(texture_.get(), 100, y).R, 255) << y;
  EXPECT_EQ(PixelAt(texture_.get(), 100, 51).R, 0);
  for (std::uint32_t x = 0; x < 200; ++x) ASSERT_EQ(PixelAt(texture_.get(), x, 80).R, 255) << x;
  EXPECT_EQ(PixelAt(texture_.get(), 99, 20).R, 0);
}

TEST_F(RenderTargetTest, PartialFramesAreDrawnOverWhatIsThere) {
  auto frame = [&](bool partialOnly) {
    target_->BeginDraw();
    if (!partialOnly) {
      target_->FillRectangle({0, 0, 200, 100}, black_.get());
      target_->DrawLine({10, 10}, {190, 90}, tomato_.get(), 3.0f);
    } else {
      target_->FillRectangle({50, 0, 200, 100}, tomato_.get());
    }
    ASSERT_EQ(target_->EndDraw(), S_OK);
  };
  frame(false);
  const auto first = VisibleBytes(texture_.get());
  frame(true);
  EXPECT_EQ(PixelAt(texture_.get(), 20, 50), (Bgra{0, 0, 0, 255}));
  EXPECT_EQ(PixelAt(texture_.get(), 120, 50), (Bgra{71, 99, 255, 255}));
  // The partial frame changed pixels no record describes; the next whole frame repaints them.
  frame(false);
  EXPECT_EQ(VisibleBytes(texture_.get()), first);
}

// Random frames of fills, lines and text, each starting with an opaque fill, on one target and
// on a fresh target each: the pictures must be identical byte for byte.
TEST_F(RenderTargetTest, RandomFramesRepaintedInPartsEqualFreshOnes) {
  com_ptr<IDWriteTextFormat> small, large;
  ASSERT_EQ(session_.DWriteFactory->CreateTextFormat(L"Verdana", 600, 9.0f, small.put()), S_OK);
  ASSERT_EQ(session_.DWriteFactory->CreateTextFormat(L"DejaVu Serif", 400, 23.5f, large.put()),
            S_OK);
  std::vector<com_ptr<ID2D1SolidColorBrush>> brushes(4);
  const D2D1_COLOR_F colors[] = {kTomato,
                                 {240 / 255.0f, 230 / 255.0f, 140 / 255.0f, 1},
                                 {0.2f, 0.9f, 0.4f, 0.5f},
                                 {0, 0, 1, 1}};
  for (int i = 0; i < 4; ++i)
    ASSERT_EQ(target_->CreateSolidColorBrush(colors[i], brushes[i].put()), S_OK);

  struct Line {
    D2D1_POINT_2F From, To;
    float Width;
    int Brush;
  };
  std::mt19937 random(11);
  auto coordinate = [&](float extent) {
    return static_cast<float>(random() % static_cast<std::uint32_t>(extent * 8 + 80)) / 4.0f -
           10.0f;
  };
  std::vector<Line> lines;
  for (int i = 0; i < 12; ++i)
    lines.push_back({{coordinate(200), coordinate(100)},
                     {coordinate(200), coordinate(100)},
                     static_cast<float>(random() % 8 + 1) / 2.0f,
                     static_cast<int>(random() % 4)});
  const std::wstring texts[] = {L"Frame 1\r\nAverage 2.00 ms", L"Frame 2\r\nAverage 2.00 ms",
                                L"A much longer line that wraps", L"\u00c5ngstr\u00f6m \u4e2d",
                                L""};
  std::wstring text = texts[0];

  const auto background = black_;
  for (int k = 0; k < 80; ++k) {
    // Change a few things per frame, as frames do.
    if (random() % 2 != 0) lines[random() % lines.size()].To.y = coordinate(100);
    if (random() % 3 == 0)
      lines.push_back(
          {{coordinate(200), coordinate(100)}, {coordinate(200), coordinate(100)}, 2.0f, 0});
    if (random() % 4 == 0 && lines.size() > 4)
      lines.erase(lines.begin() + static_cast<long>(random() % lines.size()));
    if (random() % 3 == 0) text = texts[random() % 5];
    IDWriteTextFormat* format = (k / 20) % 2 == 0 ? small.get() : large.get();

    auto draw = [&](ID2D1RenderTarget* target) {
      target->BeginDraw();
      target->FillRectangle({-5, -5, 300, 300}, background.get());
      target->FillRectangle({5.5f, 60.25f, 30, 95}, brushes[2].get());
      target->DrawText(text.c_str(), static_cast<std::uint32_t>(text.size()), format,
                       {12.5f, 3.25f, 150, 90}, brushes[1].get());
      for (const Line& line : lines)
        target->DrawLine(line.From, line.To, brushes[line.Brush].get(), line.Width);
      return target->EndDraw();
    };
    ASSERT_EQ(draw(target_.get()), S_OK);
    auto freshTexture = NewTexture(200, 100);
    com_ptr<ID2D1RenderTarget> fresh;
    ASSERT_EQ(session_.D2DFactory->CreateDxgiSurfaceRenderTarget(freshTexture.get(), fresh.put()),
              S_OK);
    ASSERT_EQ(draw(fresh.get()), S_OK);
    ASSERT_EQ(FirstDifference(texture_.get(), freshTexture.get()), "") << "frame " << k;
  }
}

TEST(TextFormat, UnknownFamiliesFallBack) {
  BenchmarkSession session;
  InitDrawingSession(session);
  com_ptr<IDWriteTextFormat> format;
  EXPECT_EQ(session.DWriteFactory->CreateTextFormat(L"Verdana", 600, 0.0f, format.put()),
            E_INVALIDARG);
  // A family nobody has falls back to what fontconfig offers.
  EXPECT_EQ(session.DWriteFactory->CreateTextFormat(L"No Such Family 123", 400, 9.0f, format.put()),
            S_OK);
  EXPECT_EQ(format->GetFontSize(), 9.0f);
}

}  // namespace

}  // namespace corvantis
