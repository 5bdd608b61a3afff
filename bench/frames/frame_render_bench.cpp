#include <benchmark/benchmark.h>

#include <cstdint>
#include <cwchar>

#include "platform/drawing/cairo_drawing.h"
#include "platform/graphics.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/frame_canvas.h"

namespace corvantis {

namespace {

// A session with one clip's canvas and one pool slot, as the encode loop has them.
struct Clip {
  BenchmarkSession Session;
  ClipScenario Scenario;
  com_ptr<ID3D11Texture2D> Slot;
  ChartPoints Points;
  std::uint32_t Frame = 0;
  std::uint32_t Window = 0;
  std::uint32_t Sum = 0;

  Clip(std::uint32_t width, std::uint32_t height) : Scenario{width, height, 60, 1, 30} {
    CreateCpuDevice(Session.Device.put(), Session.DeviceContext.put());
    CreateCairoD2DFactory(Session.D2DFactory.put());
    CreateFontconfigDWriteFactory(Session.DWriteFactory.put());
    Session.TextureDescription.MipLevels = 1;
    Session.TextureDescription.BindFlags |= D3D11_BIND_RENDER_TARGET;
    std::wcscpy(Session.AdapterDescription.Description, L"AMD Radeon RX 7900 XTX");
    CreateFrameCanvas(Session, width, height);
    Session.Device->CreateTexture2D(&Session.TextureDescription, nullptr, Slot.put());
  }

  // Frame by frame through the clip, with latencies that move the average, and over again.
  void RenderNext() {
    const std::uint32_t total = Scenario.FrameCount();
    if (Frame == total) {
      Frame = 0;
      Points.clear();
    }
    RenderFrame(Session, 0, Scenario, Frame, total, Window, Sum, Points);
    Session.DeviceContext->CopyResource(Slot.get(), Session.FrameTexture.get());
    Window = Window < 32 ? Window + 1 : 32;
    Sum = Window * (4 + (Frame * 7919u) % 13);
    ++Frame;
  }
};

void BM_RenderFrameAndCopy(benchmark::State& state) {
  Clip clip(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
  // Half a clip first: the chart holds a few hundred segments, as it does mid-clip.
  for (std::uint32_t i = 0; i < clip.Scenario.FrameCount() / 2; ++i) clip.RenderNext();
  for (auto _ : state) clip.RenderNext();
}

// The same frames with a new render target each time, so that every frame is painted whole.
void BM_RenderWholeFrameAndCopy(benchmark::State& state) {
  Clip clip(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
  for (std::uint32_t i = 0; i < clip.Scenario.FrameCount() / 2; ++i) clip.RenderNext();
  for (auto _ : state) {
    clip.Session.D2DFactory->CreateDxgiSurfaceRenderTarget(clip.Session.FrameTexture.get(),
                                                           clip.Session.RenderTarget.put());
    clip.RenderNext();
  }
}

// The floor: the copy into the slot alone.
void BM_CopyOnly(benchmark::State& state) {
  Clip clip(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
  for (auto _ : state)
    clip.Session.DeviceContext->CopyResource(clip.Slot.get(), clip.Session.FrameTexture.get());
}

void Resolutions(benchmark::internal::Benchmark* b) {
  b->Args({640, 360})
      ->Args({1280, 720})
      ->Args({1920, 1080})
      ->Args({2560, 1440})
      ->Args({3840, 2160});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_RenderFrameAndCopy)->Apply(Resolutions);
BENCHMARK(BM_RenderWholeFrameAndCopy)->Apply(Resolutions);
BENCHMARK(BM_CopyOnly)->Apply(Resolutions);

}  // namespace

}  // namespace corvantis
