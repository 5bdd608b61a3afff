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
  BenchmarkSession session;
  ClipScenario scenario;
  com_ptr<ID3D11Texture2D> slot;
  ChartPoints points;
  std::uint32_t frame = 0;
  std::uint32_t window = 0;
  std::uint32_t sum = 0;

  Clip(std::uint32_t width, std::uint32_t height) : scenario{width, height, 60, 1, 30} {
    CreateCpuDevice(session.Device.put(), session.DeviceContext.put());
    CreateCairoD2DFactory(session.D2DFactory.put());
    CreateFontconfigDWriteFactory(session.DWriteFactory.put());
    session.TextureDescription.MipLevels = 1;
    session.TextureDescription.BindFlags |= D3D11_BIND_RENDER_TARGET;
    std::wcscpy(session.AdapterDescription.Description, L"AMD Radeon RX 7900 XTX");
    CreateFrameCanvas(session, width, height);
    session.Device->CreateTexture2D(&session.TextureDescription, nullptr, slot.put());
  }

  // Frame by frame through the clip, with latencies that move the average, and over again.
  void RenderNext() {
    const std::uint32_t total = scenario.FrameCount();
    if (frame == total) {
      frame = 0;
      points.clear();
    }
    RenderFrame(session, 0, scenario, frame, total, window, sum, points);
    session.DeviceContext->CopyResource(slot.get(), session.FrameTexture.get());
    window = window < 32 ? window + 1 : 32;
    sum = window * (4 + (frame * 7919u) % 13);
    ++frame;
  }
};

void BM_RenderFrameAndCopy(benchmark::State& state) {
  Clip clip(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
  // Half a clip first: the chart holds a few hundred segments, as it does mid-clip.
  for (std::uint32_t i = 0; i < clip.scenario.FrameCount() / 2; ++i) clip.RenderNext();
  for (auto _ : state) clip.RenderNext();
}

// The same frames with a new render target each time, so that every frame is painted whole.
void BM_RenderWholeFrameAndCopy(benchmark::State& state) {
  Clip clip(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
  for (std::uint32_t i = 0; i < clip.scenario.FrameCount() / 2; ++i) clip.RenderNext();
  for (auto _ : state) {
    clip.session.D2DFactory->CreateDxgiSurfaceRenderTarget(clip.session.FrameTexture.get(),
                                                           clip.session.RenderTarget.put());
    clip.RenderNext();
  }
}

// The floor: the copy into the slot alone.
void BM_CopyOnly(benchmark::State& state) {
  Clip clip(static_cast<std::uint32_t>(state.range(0)), static_cast<std::uint32_t>(state.range(1)));
  for (auto _ : state) clip.session.DeviceContext->CopyResource(clip.slot.get(), clip.session.FrameTexture.get());
}

void Resolutions(benchmark::internal::Benchmark* b) {
  b->Args({640, 360})->Args({1280, 720})->Args({1920, 1080})->Args({2560, 1440})->Args({3840, 2160});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_RenderFrameAndCopy)->Apply(Resolutions);
BENCHMARK(BM_RenderWholeFrameAndCopy)->Apply(Resolutions);
BENCHMARK(BM_CopyOnly)->Apply(Resolutions);

}  // namespace

}  // namespace corvantis
