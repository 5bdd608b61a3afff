// Whole clips of the program, through the real series code and encoder runtime, on a hardware
// adapter's device whose node is the tests' stand-in and whose VA driver answers at once (from
// each clip's first frame on): the
// clip's "Average Encoding Time" (`average_ms`) is then the program's own share of the interval
// plus the pump's 1 ms polling floor. `WholeRun` runs both series over the whole matrix with
// 1-second clips, for a peak-memory figure (/usr/bin/time -v). `DrawAndCopy` is what each frame
// costs before its submission is stamped: RenderFrame and the copy into a pool slot.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "amf/surface_pool.h"
#include "bench/amfrt/wall_clock.h"
#include "platform/console.h"
#include "platform/drawing/cairo_drawing.h"
#include "platform/graphics.h"
#include "scenarios/codec_profile.h"
#include "scenarios/frame_canvas.h"
#include "scenarios/scenario_matrix.h"
#include "scenarios/scenario_series.h"
#include "scenarios/series_observer.h"
#include "tests/series/runtime_series_host.h"
#include "tests/vaapi_driver/test_driver.h"

namespace corvantis {

namespace {

void PrepareSession(BenchmarkSession& session, const std::string& node) {
  CreateCpuDevice(session.Device.put(), session.DeviceContext.put(), node);
  CreateCairoD2DFactory(session.D2DFactory.put());
  CreateFontconfigDWriteFactory(session.DWriteFactory.put());
  CreatePngImagingFactory(session.WicFactory.put());
  session.TextureDescription.MipLevels = 1;
  session.TextureDescription.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
  session.ResultsText = L"Stand-in adapter\n\n";
}

// Keeps each clip's records, and has the driver answer at once from the clip's first frame on:
// while the encoder opens, its processor's test picture has to come through converted.
struct Records final : SeriesObserver {
  explicit Records(TestVaDriver& driver) : Driver(driver) {}
  TestVaDriver& Driver;
  std::vector<ClipRecord> Clips;
  bool AnsweringAtOnce = false;

  void Answer(bool atOnce) {
    AnsweringAtOnce = atOnce;
    Driver.With([atOnce](vadriver::Control& c) { c.work = !atOnce; });
  }
  void SeriesStarted(const SeriesRecord&) override {}
  void ClipStarted(const SeriesRecord&, std::size_t) override { Answer(false); }
  void FrameDrawn(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) override {
    if (!AnsweringAtOnce) Answer(true);
  }
  void ClipEnded(const SeriesRecord& series) override { Clips.push_back(series.Clips.back()); }
  void SeriesEnded(const SeriesRecord&) override {}
};

// The clips of `rows` for each profile, on the stand-in node with the driver answering at once,
// in a fresh folder that goes afterwards.
std::vector<ClipRecord> RunSeries(const std::vector<CodecProfile>& profiles,
                                  std::vector<ClipScenario> rows) {
  char pattern[] = "/tmp/corvantis-clip-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return std::vector<ClipRecord>{};
  TestVaDriver driver("radeonsi");
  driver.With([](vadriver::Control& c) { c.recordPixels = false; });
  Records records(driver);
  {
    BenchmarkSession session;
    PrepareSession(session, driver.Node());
    series_testing::RuntimeSeriesHost host(std::filesystem::path(pattern).wstring(),
                                           std::move(rows));
    StringConsole console, errors;
    ScopedConsoleRedirect out(console);
    ScopedConsoleRedirect err(errors, ScopedConsoleRedirect::Stream::Err);
    for (CodecProfile profile : profiles) {
      std::once_flag reported;
      profile.VersionReported = &reported;
      RunScenarioSeries(session, profile, host, &records);
    }
  }
  std::filesystem::remove_all(pattern);
  return records.Clips;
}

void Clip(benchmark::State& state, CodecProfile profile, ClipScenario row) {
  for (auto _ : state) {
    const std::vector<ClipRecord> clips = RunSeries({profile}, {row});
    if (clips.size() != 1 || clips[0].Verdict == ClipVerdict::Error)
      return state.SkipWithError("the clip did not run");
    state.counters["average_ms"] = clips[0].AverageMs;
    state.counters["elapsed_ratio"] = clips[0].ElapsedRatio;
  }
}

void WholeRun(benchmark::State& state) {
  std::vector<ClipScenario> rows(ScenarioMatrix.begin(), ScenarioMatrix.end());
  for (ClipScenario& row : rows) row.DurationSeconds = 1;
  for (auto _ : state) {
    const std::vector<ClipRecord> clips = RunSeries({AvcProfile(), HevcProfile()}, rows);
    int passed = 0;
    for (const ClipRecord& clip : clips) passed += clip.Verdict == ClipVerdict::Pass;
    state.counters["clips"] = static_cast<double>(clips.size());
    state.counters["passed"] = passed;
  }
}

// One frame drawn mid-clip and copied into the next of the pool's slots, made as the program
// makes them on the stand-in node's device.
void DrawAndCopy(benchmark::State& state, std::uint32_t width, std::uint32_t height) {
  TestVaDriver driver("radeonsi");
  driver.With([](vadriver::Control& c) { c.work = c.recordPixels = false; });
  BenchmarkSession session;
  PrepareSession(session, driver.Node());
  CreateFrameCanvas(session, width, height);
  const ClipScenario scenario{width, height, 144, 1, 5};
  D3D11_TEXTURE2D_DESC desc = session.TextureDescription;
  desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  std::vector<com_ptr<ID3D11Texture2D>> slots(kSurfacePoolSize);
  for (auto& slot : slots)
    if (session.Device->CreateTexture2D(&desc, nullptr, slot.put()) < 0)
      return state.SkipWithError("no slot texture");
  ChartPoints points;
  const std::uint32_t total = scenario.FrameCount();
  std::uint32_t frame = total / 2;
  for (auto _ : state) {
    RenderFrame(session, 0, scenario, frame, total, 32, 32 * 5, points);
    session.DeviceContext->CopyResource(slots[frame % kSurfacePoolSize].get(),
                                        session.FrameTexture.get());
    if (++frame == total) {
      frame = total / 2;
      points.clear();
    }
  }
}

const int registered = [] {
  const std::vector<ClipScenario> rows = {{640, 360, 144, 1, 5},  {1280, 720, 60, 1, 5},
                                          {1920, 1080, 60, 1, 5}, {2560, 1440, 60, 1, 5},
                                          {3840, 2160, 60, 1, 5}, {3840, 2160, 144, 1, 5}};
  for (const CodecProfile& profile : {AvcProfile(), HevcProfile()})
    for (const ClipScenario& row : rows) {
      WallClock("Clip/" + WideToUtf8Lossy(profile.Label) + "/" + SizeName(row.Width, row.Height) +
                    "@" + std::to_string(row.FrameRateNumerator),
                benchmark::kMillisecond, Clip, profile, row)
          ->Iterations(1);
    }
  WallClock("WholeRun/1s", benchmark::kSecond, WholeRun)->Iterations(1);
  for (const auto& [w, h] : {std::pair{1920u, 1080u}, std::pair{3840u, 2160u}})
    WallClock("DrawAndCopy/" + SizeName(w, h), benchmark::kMillisecond, DrawAndCopy, w, h)
        ->MinTime(1.0);
  return 0;
}();

}  // namespace

}  // namespace corvantis
