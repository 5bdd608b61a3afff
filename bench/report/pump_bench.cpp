// The encode pump's own cost per frame and its pacing, with an encoder that answers at once and
// a host that neither draws nor copies: what is left is the loop, its statistics and progress.
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "amf/encode_pump.h"
#include "amf/frame_timing.h"
#include "amf/surface_pool.h"
#include "platform/console.h"
#include "platform/graphics.h"
#include "report/progress_line.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/codec_profile.h"
#include "tests/fakes/fake_amf.h"

namespace corvantis {

namespace {

std::uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(ts.tv_nsec);
}

// Accepts every frame and hands its output back on the next query: one shared buffer, no
// allocation, so that the pump's own work is what is measured.
class InstantEncoder final : public fakes::Properties<amf::AMFComponent> {
 public:
  InstantEncoder() : buffer_(std::vector<std::uint8_t>(64, 0xA5)) {
    buffer_.Store(L"OutputDataType", 2);
  }

  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override {
    return QueryAs(iid, {amf::AMFInterface::IID(), amf::AMFComponent::IID()}, out);
  }
  AMF_RESULT Init(amf::AMF_SURFACE_FORMAT, amf::amf_int32, amf::amf_int32) override {
    return AMF_OK;
  }
  AMF_RESULT ReInit(amf::amf_int32, amf::amf_int32) override { return AMF_OK; }
  AMF_RESULT Terminate() override { return AMF_OK; }
  AMF_RESULT Drain() override {
    drained_ = true;
    return AMF_OK;
  }
  AMF_RESULT Flush() override { return AMF_OK; }
  AMF_RESULT SubmitInput(amf::AMFData*) override {
    if (SubmitTimesNs != nullptr) SubmitTimesNs->push_back(MonotonicNs());
    ++pending_;
    return AMF_OK;
  }
  AMF_RESULT QueryOutput(amf::AMFData** out) override {
    if (pending_ == 0) {
      *out = nullptr;
      return drained_ ? AMF_EOF : AMF_REPEAT;
    }
    --pending_;
    buffer_.Acquire();
    *out = &buffer_;
    return AMF_OK;
  }
  amf::AMFContext* GetContext() override { return nullptr; }

  std::vector<std::uint64_t>* SubmitTimesNs = nullptr;

 private:
  fakes::FakeBuffer buffer_;
  std::uint32_t pending_ = 0;
  bool drained_ = false;
};

class Host final : public EncodeLoopHost {
 public:
  explicit Host(SeriesObserver* observer) : observer_(observer) {}
  void RenderFrame(std::uint32_t k, std::uint32_t n, std::uint32_t count,
                   std::uint32_t sum) override {
    if (observer_ != nullptr) observer_->FrameDrawn(k, n, count, sum);
  }
  void CopyFrameToSlot(ID3D11Texture2D*) override {}
  void SaveLastFrame(ID3D11Texture2D*) override {}

 private:
  SeriesObserver* observer_;
};

class NullConsole final : public Console {
 public:
  void Write(std::wstring_view) override {}
  void Flush() override {}
};

struct Pool {
  com_ptr<ID3D11Device> Device;
  com_ptr<ID3D11DeviceContext> Context;
  fakes::FakeContext AmfContext;
  SurfacePool Surfaces;
  Pool() {
    CreateCpuDevice(Device.put(), Context.put());
    D3D11_TEXTURE2D_DESC desc = BenchmarkSession::InitialTextureDescription();
    desc.Width = 64;
    desc.Height = 36;
    desc.MipLevels = 1;
    BuildSurfacePool(Device.get(), &AmfContext, desc, Surfaces);
  }
};

// Paces on the fake clock, so nothing really sleeps, but takes the high-resolution readings from
// the machine, so their cost is in the pump's.
class FakePacingMachineReadings final : public Clock {
 public:
  std::uint32_t TimeGetTime() override { return pacing_.TimeGetTime(); }
  std::uint64_t MonotonicNanoseconds() override { return SystemClock().MonotonicNanoseconds(); }
  void Sleep(std::uint32_t milliseconds) override { pacing_.Sleep(milliseconds); }
  void TimeBeginPeriod(std::uint32_t milliseconds) override {
    pacing_.TimeBeginPeriod(milliseconds);
  }
  void TimeEndPeriod(std::uint32_t milliseconds) override { pacing_.TimeEndPeriod(milliseconds); }
  LocalDateTime GetLocalTime() override { return pacing_.GetLocalTime(); }

 private:
  fakes::FakeClock pacing_;
};

constexpr ClipScenario kClip{640, 360, 144, 1, 10};

// Pump time per frame (paced by a fake clock: no real sleeping), with the progress line drawn on
// every frame it allows and the clip's statistics summarised, or with neither.
void PumpPerFrame(benchmark::State& state, bool progressAndSummary) {
  Pool pool;
  NullConsole terminal;
  std::uint64_t frames = 0;
  for (auto _ : state) {
    state.PauseTiming();
    FakePacingMachineReadings clock;
    InstantEncoder encoder;
    EncodeLoopState loop;
    std::unique_ptr<ProgressLine> progress;
    SeriesRecord series;
    series.Label = L"AVC";
    series.Matrix = {kClip};
    if (progressAndSummary) {
      progress = std::make_unique<ProgressLine>(terminal, clock, 2);
      progress->SeriesStarted(series);
      progress->ClipStarted(series, 0);
    }
    Host host(progress.get());
    state.ResumeTiming();
    RunEncodeLoop(&encoder, pool.Surfaces, kClip, AvcProfile().Properties, loop, host, clock);
    if (progressAndSummary) benchmark::DoNotOptimize(SummariseFrames(loop.Frames, kClip, 1000));
    frames += loop.FrameCount;
  }
  state.counters["ns_per_frame"] = benchmark::Counter(
      static_cast<double>(frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK_CAPTURE(PumpPerFrame, bare, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PumpPerFrame, statistics_and_progress, true)->Unit(benchmark::kMillisecond);

// The pump takes two of these a frame (submission, output collected) beside the ms stamps.
void HighResolutionReading(benchmark::State& state) {
  Clock& clock = SystemClock();
  for (auto _ : state) benchmark::DoNotOptimize(clock.MonotonicNanoseconds());
}
BENCHMARK(HighResolutionReading);

void SummariseFramesPerFrame(benchmark::State& state) {
  std::vector<FrameSample> samples(kClip.FrameCount());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto ms = static_cast<std::int32_t>(i * 7919 % 97);
    samples[i] = FrameSample{ms,
                             ms * 1000 + static_cast<std::int32_t>(i % 1000),
                             static_cast<std::int32_t>(i % 3) * 700,
                             static_cast<std::uint8_t>(i % 31),
                             {}};
  }
  for (auto _ : state) benchmark::DoNotOptimize(SummariseFrames(samples, kClip, 1000));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples.size()));
}
BENCHMARK(SummariseFramesPerFrame)->Unit(benchmark::kMicrosecond);

// Real time: a 144 fps clip of 2 s on the machine's clock with an encoder that costs nothing.
// Lateness is each submission's time after its due millisecond, measured in nanoseconds.
void PacingOnAFastEncoder(benchmark::State& state) {
  Pool pool;
  constexpr ClipScenario clip{640, 360, 144, 1, 2};
  std::vector<double> latenessUs;
  std::uint32_t lateFramesByPump = 0;
  for (auto _ : state) {
    InstantEncoder encoder;
    std::vector<std::uint64_t> submits;
    submits.reserve(clip.FrameCount());
    encoder.SubmitTimesNs = &submits;
    EncodeLoopState loop;
    Host host(nullptr);
    RunEncodeLoop(&encoder, pool.Surfaces, clip, AvcProfile().Properties, loop, host,
                  SystemClock());
    for (std::uint32_t k = 0; k < submits.size(); ++k) {
      // Both in the pacing clock's 32-bit milliseconds; the nanoseconds within the ms are added.
      const std::uint32_t dueMs = loop.StartTime + FrameDueOffset(k, clip);
      const auto submitMs = static_cast<std::uint32_t>(submits[k] / 1000000u);
      const std::int64_t lateNs =
          static_cast<std::int64_t>(static_cast<std::int32_t>(submitMs - dueMs)) * 1000000 +
          static_cast<std::int64_t>(submits[k] % 1000000u);
      latenessUs.push_back(static_cast<double>(std::max<std::int64_t>(lateNs, 0)) / 1000.0);
    }
    lateFramesByPump += SummariseFrames(loop.Frames, clip, 0).LateFrames;
  }
  std::sort(latenessUs.begin(), latenessUs.end());
  const auto at = [&](double p) {
    return latenessUs[std::min(
        latenessUs.size() - 1,
        static_cast<std::size_t>(p * static_cast<double>(latenessUs.size())))];
  };
  state.counters["p50_lateness_us"] = at(0.50);
  state.counters["p99_lateness_us"] = at(0.99);
  state.counters["max_lateness_us"] = latenessUs.back();
  state.counters["late_frames_over_1ms"] = lateFramesByPump;
}
BENCHMARK(PacingOnAFastEncoder)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace corvantis
