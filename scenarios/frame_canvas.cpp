#include "scenarios/frame_canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string_view>

#include "platform/hresult_error.h"

namespace corvantis {

namespace {

// A line with its "\r\n" fills at most 127 characters, the 128-character buffer less its
// terminator; a longer line loses characters before its line end, so every line stays a line.
constexpr std::size_t kLineBuffer = 128;
constexpr std::size_t kMaxLineContent = kLineBuffer - 1 - 2;

template <typename... Args>
void AppendLine(std::wstring& text, const wchar_t* format, Args... args) {
  wchar_t buffer[kLineBuffer];
  int written = std::swprintf(buffer, kLineBuffer, format, args...);
  if (written >= 0) {
    text.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(written), kMaxLineContent));
  } else {
    // glibc fails a truncated swprintf and leaves the buffer unspecified: format it whole first.
    std::wstring whole;
    for (std::size_t size = 4 * kLineBuffer; size <= (1u << 20); size *= 4) {
      whole.resize(size);
      written = std::swprintf(whole.data(), size, format, args...);
      if (written >= 0) {
        text.append(whole, 0,
                    std::min<std::size_t>(static_cast<std::size_t>(written), kMaxLineContent));
        break;
      }
    }
  }
  text.append(L"\r\n");
}

template <typename T>
T* Require(const com_ptr<T>& p) {
  if (!p) throw hresult_error(E_POINTER, L"frame canvas used before it was created");
  return p.get();
}

}  // namespace

ChartGeometry ComputeChartGeometry(std::uint32_t width, std::uint32_t height) {
  ChartGeometry g;
  g.Left = static_cast<float>(width) * 0.0625f;
  g.Right = static_cast<float>(width * 15u) * 0.0625f;
  g.TextTop = static_cast<float>(height) * 0.0625f;
  g.ChartTop = static_cast<float>(height * 9u) * 0.0625f;
  g.Bottom = static_cast<float>(height * 15u) * 0.0625f;
  g.Middle = (g.ChartTop + g.Bottom) * 0.5f;
  return g;
}

float ChartY(const ChartGeometry& geometry, double average) {
  return geometry.Bottom -
         static_cast<float>(static_cast<double>(geometry.Bottom - geometry.ChartTop) * average /
                            20.0);
}

std::int32_t TruncToInt32(float value) {
  if (!(value > -2147483904.0f && value < 2147483648.0f)) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

void AddChartPoint(const ChartGeometry& geometry, double average, std::uint32_t frameIndex,
                   std::uint32_t totalFrames, ChartPoints& points) {
  const std::int32_t y = TruncToInt32(ChartY(geometry, average) + 0.5f);
  if (points.empty()) {
    points.push_back({0, y});
    return;
  }
  const std::int32_t x =
      TruncToInt32((geometry.Right - geometry.Left) * static_cast<float>(frameIndex) /
                       static_cast<float>(totalFrames) +
                   0.5f);
  if (std::int64_t{x} - points.back().X >= 4) points.push_back({x, y});
}

void CreateFrameCanvas(BenchmarkSession& session, std::uint32_t width, std::uint32_t height) {
  session.TextureDescription.Width = width;
  session.TextureDescription.Height = height;
  check_hresult(
      Require(session.Device)
          ->CreateTexture2D(&session.TextureDescription, nullptr, session.FrameTexture.put()));
  check_hresult(
      Require(session.D2DFactory)
          ->CreateDxgiSurfaceRenderTarget(session.FrameTexture.get(), session.RenderTarget.put()));
  ID2D1RenderTarget* target = session.RenderTarget.get();
  check_hresult(target->CreateSolidColorBrush({0.0f, 0.0f, 0.0f, 1.0f}, session.BlackBrush.put()));
  check_hresult(target->CreateSolidColorBrush(
      {240.0f / 255.0f, 230.0f / 255.0f, 140.0f / 255.0f, 1.0f}, session.KhakiBrush.put()));
  check_hresult(target->CreateSolidColorBrush({1.0f, 99.0f / 255.0f, 71.0f / 255.0f, 1.0f},
                                              session.TomatoBrush.put()));
  check_hresult(Require(session.DWriteFactory)
                    ->CreateTextFormat(L"Verdana", DWRITE_FONT_WEIGHT_SEMI_BOLD,
                                       static_cast<float>(height) / 40.0f,
                                       session.TextFormat.put()));
}

OverlayText ComposeOverlayText(amf::amf_uint64 amfVersion, const wchar_t* adapterDescription,
                               const ClipScenario& scenario, std::uint32_t frameIndex,
                               std::uint32_t windowCount, std::uint32_t latencySum) {
  OverlayText overlay;
  overlay.Text.reserve(4 * kLineBuffer);
  AppendLine(overlay.Text, L"AMF %u.%u.%u.%u", amf::AMF_GET_MAJOR_VERSION(amfVersion),
             amf::AMF_GET_MINOR_VERSION(amfVersion), amf::AMF_GET_SUBMINOR_VERSION(amfVersion),
             amf::AMF_GET_BUILD_VERSION(amfVersion));
  AppendLine(
      overlay.Text, L"%ls, %dx%d@%.2f", adapterDescription != nullptr ? adapterDescription : L"",
      static_cast<int>(scenario.Width), static_cast<int>(scenario.Height), scenario.FrameRate());
  AppendLine(overlay.Text, L"Frame %d", static_cast<int>(frameIndex));
  if (windowCount > 0) {
    const double average = static_cast<double>(latencySum) / static_cast<double>(windowCount);
    AppendLine(overlay.Text, L"Average Encoding Time: %.2f ms", average);
    overlay.Average = average;
  }
  return overlay;
}

void DrawFrame(BenchmarkSession& session, const std::wstring& text, double average,
               std::uint32_t frameIndex, std::uint32_t totalFrames, ChartPoints& points) {
  ID2D1RenderTarget* target = Require(session.RenderTarget);
  ID2D1SolidColorBrush* tomato = session.TomatoBrush.get();
  const std::uint32_t width = session.TextureDescription.Width;
  const std::uint32_t height = session.TextureDescription.Height;
  const ChartGeometry g = ComputeChartGeometry(width, height);

  target->BeginDraw();
  target->FillRectangle({0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height)},
                        session.BlackBrush.get());
  target->DrawText(text.c_str(), static_cast<std::uint32_t>(text.size()), session.TextFormat.get(),
                   {g.Left, g.TextTop, g.Right, g.Bottom}, session.KhakiBrush.get());
  for (const float y : {g.ChartTop, g.Middle, g.Bottom})
    target->DrawLine({g.Left, y}, {g.Right, y}, tomato, 1.0f);
  AddChartPoint(g, average, frameIndex, totalFrames, points);
  for (std::size_t i = 1; i < points.size(); ++i) {
    target->DrawLine(
        {static_cast<float>(points[i - 1].X) + g.Left, static_cast<float>(points[i - 1].Y)},
        {static_cast<float>(points[i].X) + g.Left, static_cast<float>(points[i].Y)}, tomato, 2.0f);
  }
  check_hresult(target->EndDraw());
}

void RenderFrame(BenchmarkSession& session, amf::amf_uint64 runtimeVersion,
                 const ClipScenario& scenario, std::uint32_t frameIndex, std::uint32_t totalFrames,
                 std::uint32_t windowCount, std::uint32_t latencySum, ChartPoints& points) {
  // The adapter name array is not trusted to hold its terminator.
  const wchar_t* description = session.AdapterDescription.Description;
  constexpr std::size_t kDescriptionLength = std::size(DXGI_ADAPTER_DESC1{}.Description);
  wchar_t terminated[kDescriptionLength + 1];
  if (std::wmemchr(description, L'\0', kDescriptionLength) == nullptr) {
    std::wmemcpy(terminated, description, kDescriptionLength);
    terminated[kDescriptionLength] = L'\0';
    description = terminated;
  }
  const OverlayText overlay = ComposeOverlayText(runtimeVersion, description, scenario, frameIndex,
                                                 windowCount, latencySum);
  DrawFrame(session, overlay.Text, overlay.Average.value_or(0.0), frameIndex, totalFrames, points);
}

void ReleaseFrameCanvas(BenchmarkSession& session) {
  session.TextFormat.reset();
  session.BlackBrush.reset();
  session.KhakiBrush.reset();
  session.TomatoBrush.reset();
  session.RenderTarget.reset();
  session.FrameTexture.reset();
}

}  // namespace corvantis
