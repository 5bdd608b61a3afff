#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "amf/encode_pump.h"
#include "amf/frame_timing.h"
#include "amf/surface_pool.h"
#include "platform/graphics.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/codec_profile.h"
#include "tests/fakes/fake_amf.h"

namespace corvantis {

namespace {

using fakes::FakeClock;
using fakes::FakeContext;
using fakes::FakeEncoder;

class SilentHost final : public EncodeLoopHost {
 public:
  void RenderFrame(std::uint32_t frameIndex, std::uint32_t, std::uint32_t, std::uint32_t) override {
    if (OnRender) OnRender(frameIndex);
  }
  void CopyFrameToSlot(ID3D11Texture2D*) override {}
  void SaveLastFrame(ID3D11Texture2D*) override {}
  std::function<void(std::uint32_t)> OnRender;
};

// 100 frames at 100 fps: frame k is due 10 k ms after the start.
class FrameTimingTest : public ::testing::Test {
 protected:
  FrameTimingTest() {
    D3D11_TEXTURE2D_DESC desc = BenchmarkSession::InitialTextureDescription();
    desc.Width = 64;
    desc.Height = 36;
    desc.MipLevels = 1;
    EXPECT_EQ(CreateCpuDevice(device_.put(), deviceContext_.put()), S_OK);
    BuildSurfacePool(device_.get(), &context_, desc, pool_);
    encoder_.PacingClock = &clock_;
  }

  ClipTiming Run() {
    RunEncodeLoop(&encoder_, pool_, kClip, AvcProfile().Properties, state_, host_, clock_);
    return SummariseFrames(state_.Frames, kClip, 300);
  }

  static constexpr ClipScenario kClip{64, 36, 100, 1, 1};
  FakeClock clock_{7000};
  com_ptr<ID3D11Device> device_;
  com_ptr<ID3D11DeviceContext> deviceContext_;
  FakeContext context_;
  SurfacePool pool_;
  FakeEncoder encoder_;
  SilentHost host_;
  EncodeLoopState state_;
};

// Latencies 1..100 ms, shuffled within each tenth; no output overtakes the one before it.
std::uint32_t ScriptedLatency(std::uint32_t k) { return 10 * (k / 10) + (k % 10) * 3 % 10 + 1; }

TEST_F(FrameTimingTest, EveryFrameKeepsItsOwnLatencyAndThePercentilesRankThem) {
  encoder_.Latency = ScriptedLatency;
  const ClipTiming t = Run();

  // On whole milliseconds both stamps agree; percentiles are in us.
  ASSERT_EQ(state_.Frames.size(), 100u);
  for (std::uint32_t k = 0; k < 100; ++k) {
    EXPECT_EQ(state_.Frames[k].LatencyMs, static_cast<std::int32_t>(ScriptedLatency(k))) << k;
    EXPECT_EQ(state_.Frames[k].LatencyUs, state_.Frames[k].LatencyMs * 1000) << k;
  }
  EXPECT_EQ(t.Frames, 100u);
  EXPECT_EQ(t.All.P50, 50000);
  EXPECT_EQ(t.All.P95, 95000);
  EXPECT_EQ(t.All.P99, 99000);
  EXPECT_EQ(t.All.Max, 100000);
  // Frames 50..99 hold 51..100 ms.
  EXPECT_EQ(t.LaterHalf.P50, 75000);
  EXPECT_EQ(t.LaterHalf.P95, 98000);
  EXPECT_EQ(t.LaterHalf.P99, 100000);
  EXPECT_EQ(t.LaterHalf.Max, 100000);
}

TEST_F(FrameTimingTest, ConstantLatencyShowsAsFramesInFlight) {
  encoder_.Latency = [](std::uint32_t) { return 25u; };
  const ClipTiming t = Run();
  // Frame k goes out at 10 k and its output comes at 10 k + 25: three frames in the encoder.
  ASSERT_EQ(state_.Frames.size(), 100u);
  EXPECT_EQ(state_.Frames[0].InFlight, 1);
  EXPECT_EQ(state_.Frames[1].InFlight, 2);
  for (std::uint32_t k = 2; k < 100; ++k) EXPECT_EQ(state_.Frames[k].InFlight, 3) << k;
  EXPECT_EQ(t.InFlightMax, 3u);
  EXPECT_DOUBLE_EQ(t.InFlightMean, 2.97);
  EXPECT_EQ(t.LateFrames, 0u);
  EXPECT_DOUBLE_EQ(t.InputFrameRate, 100.0);
  EXPECT_DOUBLE_EQ(t.BitRate, 2400.0);  // 300 bytes in one second
}

TEST_F(FrameTimingTest, LateSubmissionsAreCountedWithTheirLongestRun) {
  host_.OnRender = [&](std::uint32_t k) {
    if (k == 20) clock_.Advance(35);  // frames 20..23 go out together at 235: 35, 25, 15, 5 late
    if (k == 50) clock_.Advance(2);   // 2 ms late counts
    if (k == 60) clock_.Advance(1);   // 1 ms does not
    if (k == 70) clock_.AdvanceMicroseconds(1001);  // but 1.001 ms does
  };
  const ClipTiming t = Run();
  ASSERT_EQ(state_.Frames.size(), 100u);
  EXPECT_EQ(state_.Frames[20].LatenessUs, 35000);
  EXPECT_EQ(state_.Frames[23].LatenessUs, 5000);
  EXPECT_EQ(state_.Frames[24].LatenessUs, 0);
  EXPECT_EQ(state_.Frames[70].LatenessUs, 1001);
  EXPECT_EQ(t.LateFrames, 6u);
  EXPECT_EQ(t.LongestLateRun, 4u);
  EXPECT_EQ(t.MaxLatenessUs, 35000u);
}

TEST(SummariseFramesTest, EdgesOfTheSampleList) {
  constexpr ClipScenario clip{64, 36, 30, 1, 1};
  const ClipTiming none = SummariseFrames({}, clip, 0);
  EXPECT_EQ(none.Frames, 0u);
  EXPECT_EQ(none.All.Max, 0);
  EXPECT_EQ(none.InputFrameRate, 0.0);

  // A frame whose output never came counts for lateness but not for latency; an early
  // submission is not late, and the input rate sees it early.
  const std::vector<FrameSample> samples = {{7, 7400, -600, 1, {}}, {-1, -1, 40000, 2, {}}};
  const ClipTiming t = SummariseFrames(samples, clip, 62500);
  EXPECT_EQ(t.Frames, 1u);
  EXPECT_EQ(t.All.P50, 7400);
  EXPECT_EQ(t.LaterHalf.Max, 7400);
  EXPECT_EQ(t.MaxLatenessUs, 40000u);
  EXPECT_EQ(t.LateFrames, 1u);
  EXPECT_DOUBLE_EQ(t.InputFrameRate, 1e6 / (33000 + 40000 + 600));
  EXPECT_DOUBLE_EQ(t.BitRate, 500000.0);

  const std::vector<std::int32_t> two = {3, 9};
  EXPECT_EQ(NearestRank(two, 50.0), 3);
  EXPECT_EQ(NearestRank(two, 50.1), 9);
  EXPECT_EQ(NearestRank(two, 0.0), 3);
}

}  // namespace

}  // namespace corvantis
