#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "amf/encode_pump.h"
#include "amf/frame_timing.h"
#include "amf/surface_pool.h"
#include "platform/graphics.h"
#include "platform/hresult_error.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/codec_profile.h"
#include "tests/fakes/fake_amf.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

using fakes::CallLog;
using fakes::FakeClock;
using fakes::FakeContext;
using fakes::FakeEncoder;
using fakes::PropertySet;
using ::testing::ElementsAre;

constexpr std::uint32_t kStart = 500000;

struct RenderCall {
  std::uint32_t Frame;
  std::uint32_t WindowCount;
  std::uint32_t LatencySum;
  std::uint32_t Time;
};

class RecordingLoopHost final : public EncodeLoopHost {
 public:
  RecordingLoopHost(FakeClock& clock, CallLog& log) : clock_(clock), log_(log) {}

  void RenderFrame(std::uint32_t frameIndex, std::uint32_t, std::uint32_t windowCount,
                   std::uint32_t latencySum) override {
    Renders.push_back({frameIndex, windowCount, latencySum, clock_.TimeGetTime()});
    if (OnRender) OnRender(frameIndex);
  }
  void CopyFrameToSlot(ID3D11Texture2D* slotTexture) override { Copies.push_back(slotTexture); }
  void SaveLastFrame(ID3D11Texture2D* slotTexture) override {
    Saves.push_back(slotTexture);
    log_.Add("SaveLastFrame");
  }

  std::function<void(std::uint32_t)> OnRender;
  std::vector<RenderCall> Renders;
  std::vector<ID3D11Texture2D*> Copies;
  std::vector<ID3D11Texture2D*> Saves;

 private:
  FakeClock& clock_;
  CallLog& log_;
};

ClipScenario Clip(std::uint32_t rate, std::uint32_t seconds = 1) {
  return ClipScenario{64, 36, rate, 1, seconds};
}

D3D11_TEXTURE2D_DESC FrameDescription() {
  D3D11_TEXTURE2D_DESC desc = BenchmarkSession::InitialTextureDescription();
  desc.Width = 64;
  desc.Height = 36;
  desc.MipLevels = 1;
  desc.BindFlags = 0x28;
  return desc;
}

// "name=value" for whole numbers, so a mismatch shows the whole sequence.
std::vector<std::wstring> Describe(const std::vector<PropertySet>& sets) {
  std::vector<std::wstring> text;
  for (const PropertySet& set : sets)
    text.push_back(set.Type == amf::AMF_VARIANT_INT64
                       ? set.Name + L"=" + std::to_wstring(set.Value)
                       : set.Name + L" of type " + std::to_wstring(set.Type));
  return text;
}

class EncodeLoopTest : public ::testing::Test {
 protected:
  EncodeLoopTest() {
    EXPECT_EQ(CreateCpuDevice(device_.put(), deviceContext_.put()), S_OK);
    BuildSurfacePool(device_.get(), &context_, FrameDescription(), pool_);
    encoder_.PacingClock = &clock_;
    encoder_.CallLogTarget = &log_;
    clock_.SetLog(&log_);
  }

  void Run(const ClipScenario& clip, const CodecPropertyNames& names = AvcProfile().Properties) {
    RunEncodeLoop(&encoder_, pool_, clip, names, state_, host_, clock_);
  }
  std::uint32_t SinceStart(const fakes::Submission& s) const { return s.Time - state_.StartTime; }

  // Hands frames to the encoder the way the loop does, one ms apart.
  void SubmitDirectly(int frames) {
    for (int i = 0; i < frames; ++i) {
      SurfaceSlot& slot = pool_.Slots[state_.WriteSlot];
      slot.SubmitTime = clock_.TimeGetTime();
      ASSERT_EQ(encoder_.SubmitInput(slot.Surface.GetPtr()), AMF_OK);
      state_.WriteSlot = (state_.WriteSlot + 1) % kSurfacePoolSize;
      clock_.Advance(1);
    }
  }
  bool Pump() { return PumpOutput(&encoder_, pool_, AvcProfile().Properties, state_, clock_); }

  CallLog log_;
  FakeClock clock_{kStart};
  com_ptr<ID3D11Device> device_;
  com_ptr<ID3D11DeviceContext> deviceContext_;
  FakeContext context_;
  SurfacePool pool_;
  FakeEncoder encoder_;
  RecordingLoopHost host_{clock_, log_};
  EncodeLoopState state_;
};

// --- pacing ---

// Also when the millisecond clock wraps in the middle of the clip.
class ScheduleTest : public EncodeLoopTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ScheduleTest, SubmitsEveryFrameExactlyWhenDueWithTheTimerPeriodHeldOnce) {
  clock_.SetNow(GetParam());
  Run(Clip(60));
  ASSERT_EQ(encoder_.Accepted.size(), 60u);
  EXPECT_EQ(state_.StartTime, GetParam());
  EXPECT_EQ(SinceStart(encoder_.Accepted[3]), 50u);
  for (std::uint32_t k = 0; k < 60; ++k)
    EXPECT_EQ(SinceStart(encoder_.Accepted[k]), k * 1000 / 60) << k;
  for (std::uint32_t i = 0; i < state_.Window.size(); ++i) EXPECT_EQ(state_.Window[i], 5);
  EXPECT_EQ(clock_.PeriodBegins(), 1);
  EXPECT_EQ(clock_.PeriodEnds(), 1);
  EXPECT_EQ(clock_.LastPeriod(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Starts, ScheduleTest, ::testing::Values(kStart, 0xFFFFFFFFu - 70),
                         [](const auto& test) { return test.index == 0 ? "Plain" : "Wrapping"; });

TEST_F(EncodeLoopTest, LateFramesGoOutBackToBackUntilOnSchedule) {
  host_.OnRender = [&](std::uint32_t k) {
    if (k == 5) clock_.Advance(60);  // frame 5 drawn at 83 ms, done at 143: 6 to 8 are late
  };
  Run(Clip(60));
  const std::size_t fifth = log_.Find("SubmitInput", 5);
  const std::size_t eighth = log_.Find("SubmitInput", 8);
  EXPECT_EQ(log_.Count("Sleep", fifth, eighth), 0u);
  EXPECT_EQ(log_.Count("QueryOutput", fifth, eighth), 0u);
  EXPECT_EQ(SinceStart(encoder_.Accepted[8]), 143u);
  EXPECT_EQ(SinceStart(encoder_.Accepted[9]), 150u);
}

TEST_F(EncodeLoopTest, NoSubmissionWith31InFlightEvenWhenOverdue) {
  encoder_.Latency = [](std::uint32_t output) { return output == 0 ? 1000u : 1u; };
  Run(Clip(60));
  EXPECT_EQ(encoder_.MaxInFlight, 31u);
  EXPECT_EQ(SinceStart(encoder_.Accepted[30]), 500u);
  EXPECT_EQ(SinceStart(encoder_.Accepted[31]), 1000u);  // due at 516, held until output 0
  EXPECT_EQ(std::count_if(host_.Renders.begin(), host_.Renders.end(),
                          [](const RenderCall& r) { return r.Frame == 31; }),
            1);
}

TEST_F(EncodeLoopTest, EncoderFailureRaisesAndStillEndsTheTimerPeriod) {
  encoder_.SubmitResults[4] = AMF_FAIL;
  EXPECT_EQ(RaisedCode([&] { Run(Clip(30)); }), 0xC14D0001u);
  EXPECT_EQ(encoder_.Accepted.size(), 4u);
  EXPECT_EQ(clock_.PeriodBegins(), 1);
  EXPECT_EQ(clock_.PeriodEnds(), 1);
}

// --- frame stamping ---

struct PtsCase {
  std::uint32_t Rate;
  amf::amf_pts Pts1;
  amf::amf_pts Duration1;
};

class FramePtsTest : public EncodeLoopTest, public ::testing::WithParamInterface<PtsCase> {};

TEST_P(FramePtsTest, PtsAndDurationTileTheTimeline) {
  const PtsCase c = GetParam();
  Run(Clip(c.Rate, 5));  // long enough for k * 10^7 to pass 2^32
  ASSERT_EQ(encoder_.Accepted.size(), 5 * c.Rate);
  EXPECT_EQ(encoder_.Accepted[0].Pts, 0);
  EXPECT_EQ(encoder_.Accepted[1].Pts, c.Pts1);
  EXPECT_EQ(encoder_.Accepted[1].Duration, c.Duration1);
  for (std::uint32_t k = 0; k < 5 * c.Rate; ++k)
    EXPECT_EQ(encoder_.Accepted[k].Pts + encoder_.Accepted[k].Duration,
              static_cast<amf::amf_pts>(k + 1) * 10000000 / c.Rate)
        << k;
}

INSTANTIATE_TEST_SUITE_P(Rates, FramePtsTest,
                         ::testing::Values(PtsCase{60, 166666, 166667}, PtsCase{144, 69444, 69444}),
                         [](const auto& test) { return "Fps" + std::to_string(test.param.Rate); });

TEST_F(EncodeLoopTest, AvcHeadersOnFrameZeroOnlyAndDelimiterOnEveryFrame) {
  Run(Clip(30));
  ASSERT_EQ(encoder_.Accepted.size(), 30u);
  EXPECT_THAT(Describe(encoder_.Accepted[0].Properties),
              ElementsAre(L"InsertAUD=1", L"InsertSPS=1", L"InsertPPS=1"));
  for (std::size_t k = 1; k < 30; ++k)
    EXPECT_THAT(Describe(encoder_.Accepted[k].Properties),
                ElementsAre(L"InsertAUD=1", L"InsertSPS=0", L"InsertPPS=0"))
        << k;
}

TEST_F(EncodeLoopTest, HevcUsesItsOwnPropertyNames) {
  encoder_.DataTypeProperty = L"HevcOutputDataType";
  encoder_.DataTypeOf = [](std::uint32_t output) { return output == 0 ? 0 : 2; };
  Run(Clip(30), HevcProfile().Properties);
  ASSERT_EQ(encoder_.Accepted.size(), 30u);
  EXPECT_THAT(Describe(encoder_.Accepted[0].Properties),
              ElementsAre(L"HevcInsertAUD=1", L"HevcInsertHeader=1"));
  for (std::size_t k = 1; k < 30; ++k)
    EXPECT_THAT(Describe(encoder_.Accepted[k].Properties),
                ElementsAre(L"HevcInsertAUD=1", L"HevcInsertHeader=0"))
        << k;
  ASSERT_EQ(state_.OutputRecords.size(), 30u);
  EXPECT_EQ(state_.OutputRecords[0].DataType, 0);
  EXPECT_EQ(state_.OutputRecords[29].DataType, 2);
}

TEST_F(EncodeLoopTest, RefusedFrameIsDrawnAgainInALaterPassAndSampledTwice) {
  encoder_.SubmitResults[3] = AMF_INPUT_FULL;
  Run(Clip(30));
  ASSERT_EQ(encoder_.Accepted.size(), 30u);
  ASSERT_GE(host_.Renders.size(), 5u);
  EXPECT_EQ(host_.Renders[3].Frame, 3u);
  EXPECT_EQ(host_.Renders[4].Frame, 3u);
  EXPECT_EQ(host_.Renders[5].Frame, 4u);
  EXPECT_EQ(host_.Copies[3], host_.Copies[4]);
  EXPECT_EQ(log_.Count("Sleep", log_.Find("SubmitInput", 3), log_.Find("SubmitInput", 4)), 1u);
  EXPECT_EQ(encoder_.Attempts[4].Pts, encoder_.Attempts[3].Pts);
  EXPECT_THAT(Describe(encoder_.Attempts[4].Properties),
              ElementsAre(L"InsertAUD=1", L"InsertSPS=0", L"InsertPPS=0"));
  // Frame 0 sees no output yet; every other drawing, the repeated one included, adds a sample.
  EXPECT_EQ(state_.EncodeTimeSamples.size(), 30u);
}

TEST_F(EncodeLoopTest, FramesDrawnBeforeTheFirstOutputAddNoSample) {
  encoder_.Latency = [](std::uint32_t output) { return output == 0 ? 100u : 5u; };
  Run(Clip(60));
  for (std::uint32_t k = 0; k <= 5; ++k) EXPECT_EQ(host_.Renders[k].WindowCount, 0u) << k;
  EXPECT_EQ(host_.Renders[6].WindowCount, 6u);
  EXPECT_EQ(state_.EncodeTimeSamples.size(), 60u - 6u);
}

TEST_F(EncodeLoopTest, WindowKeepsTheLatest32LatenciesAndTheirSum) {
  const auto latency = [](std::uint32_t output) { return 1 + (output * 7) % 20; };
  encoder_.Latency = latency;
  Run(Clip(40));  // 25 ms apart: each output is in before the next frame
  ASSERT_EQ(state_.Window.size(), 32u);
  std::uint32_t sum = 0;
  for (std::uint32_t j = 0; j < 32; ++j) {
    EXPECT_EQ(state_.Window[j], static_cast<std::int32_t>(latency(8 + j))) << j;
    sum += latency(8 + j);
  }
  EXPECT_EQ(state_.LatencySum, sum);

  // The renderer sees the running window of the outputs so far.
  for (std::uint32_t k = 1; k < 40; ++k) {
    const std::uint32_t first = k > 32 ? k - 32 : 0;
    std::uint32_t expected = 0;
    for (std::uint32_t i = first; i < k; ++i) expected += latency(i);
    EXPECT_EQ(host_.Renders[k].WindowCount, k - first) << k;
    EXPECT_EQ(host_.Renders[k].LatencySum, expected) << k;
  }
}

// --- end of input ---

TEST_F(EncodeLoopTest, RefusedDrainIsRetriedWithOutputPumpedBetween) {
  encoder_.DrainResults = {AMF_INPUT_FULL, AMF_INPUT_FULL, AMF_OK};
  encoder_.Latency = [](std::uint32_t) { return 10u; };
  Run(Clip(30));
  ASSERT_EQ(encoder_.DrainCalls, 3);
  for (std::size_t d = 0; d < 2; ++d) {
    const std::size_t drain = log_.Find("Drain", d);
    const std::size_t next = log_.Find("Drain", d + 1);
    const std::size_t query = log_.FindFrom("QueryOutput", drain);
    const std::size_t sleep = log_.FindFrom("Sleep", drain);
    EXPECT_LT(query, sleep) << d;
    EXPECT_LT(sleep, next) << d;
    EXPECT_EQ(log_.Count("Sleep", drain, next), 1u) << d;
  }
  EXPECT_EQ(log_.Count("SubmitInput", log_.Find("Drain"), log_.Entries.size()), 0u);
  EXPECT_GT(log_.Find("SaveLastFrame"), log_.Find("Drain", 2));
  EXPECT_EQ(host_.Saves.size(), 1u);
  EXPECT_EQ(state_.OutputChunks.size(), 30u);
}

// A Drain failure other than "try later" is an error: it must neither be retried for ever nor
// taken as success (no snapshot of a stream that never ended).
TEST_F(EncodeLoopTest, FailedDrainRaisesAfterOneRetryOfARefusal) {
  encoder_.DrainResults = {AMF_INPUT_FULL, AMF_UNEXPECTED};
  EXPECT_EQ(RaisedCode([&] { Run(Clip(30)); }), 0xC14D0002u);
  EXPECT_EQ(encoder_.DrainCalls, 2);
  EXPECT_TRUE(host_.Saves.empty());
  EXPECT_EQ(clock_.PeriodEnds(), 1);
}

// A per-frame surface property that fails stops the clip before that frame is submitted.
TEST_F(EncodeLoopTest, FailedSurfacePropertyRaisesBeforeTheFrameIsSubmitted) {
  for (const wchar_t* name : {L"InsertAUD", L"InsertSPS", L"InsertPPS"}) {
    state_ = {};
    FakeEncoder encoder;
    encoder.PacingClock = &clock_;
    // Every slot's surface refuses the property: the first frame meets it.
    for (auto& surface : context_.Surfaces) surface->FailingProperties = {{name, AMF_INVALID_ARG}};
    EXPECT_EQ(RaisedCode([&] {
                RunEncodeLoop(&encoder, pool_, Clip(30), AvcProfile().Properties, state_, host_,
                              clock_);
              }),
              0xC14D0004u)
        << name;
    EXPECT_EQ(encoder.SubmitCalls, 0) << name;
  }
}

TEST_F(EncodeLoopTest, SavesTheTextureOfTheSlotHoldingTheLastFrame) {
  encoder_.SubmitResults[59] = AMF_INPUT_FULL;
  Run(Clip(60));
  ASSERT_EQ(host_.Saves.size(), 1u);
  EXPECT_EQ(host_.Saves[0], encoder_.Accepted.back().Texture);
  EXPECT_EQ(host_.Saves[0], pool_.Slots[59 % 32].Texture.get());
}

// --- outputs ---

TEST_F(EncodeLoopTest, OutputsAreKeptAsCopiesInOutputOrderWithTheirRecords) {
  const auto type = [](std::uint32_t output) { return output == 0 ? 0 : output % 4 == 0 ? 1 : 2; };
  encoder_.DataTypeOf = type;
  Run(Clip(30));
  for (const auto& buffer : encoder_.Outputs) {
    EXPECT_EQ(buffer->Refs(), 0);
    std::fill(buffer->Bytes.begin(), buffer->Bytes.end(), std::uint8_t{0});  // memory reused
  }
  ASSERT_EQ(state_.OutputChunks.size(), 30u);
  ASSERT_EQ(state_.OutputRecords.size(), 30u);
  for (std::uint32_t i = 0; i < 30; ++i) {
    const auto expected = FakeEncoder::DefaultPayload(i);
    EXPECT_EQ(*state_.OutputChunks[i], expected) << i;
    EXPECT_EQ(state_.OutputRecords[i].DataType, type(i)) << i;
    EXPECT_EQ(state_.OutputRecords[i].Size, static_cast<std::int64_t>(expected.size())) << i;
  }
}

TEST_F(EncodeLoopTest, OutputWithoutTheCodecsDataTypeRaises) {
  encoder_.DataTypeProperty = L"HevcOutputDataType";
  EXPECT_EQ(RaisedCode([&] { Run(Clip(30)); }), 0xC14D0000u | AMF_NOT_FOUND);
  EXPECT_EQ(clock_.PeriodEnds(), 1);
}

TEST_F(EncodeLoopTest, PumpTakesEveryReadyOutputThenReportsRepeatOrEnd) {
  encoder_.Latency = [](std::uint32_t) { return 10u; };
  SubmitDirectly(3);  // at +0, +1, +2 ms
  clock_.Advance(9);  // +12: all three ready
  EXPECT_FALSE(Pump());
  EXPECT_EQ(state_.OutputChunks.size(), 3u);
  EXPECT_EQ(state_.ReadSlot, 3u);
  ASSERT_EQ(state_.Window.size(), 3u);
  EXPECT_EQ(state_.Window[0], 12);
  EXPECT_EQ(state_.Window[2], 10);
  EXPECT_EQ(state_.LatencySum, 33u);

  EXPECT_FALSE(Pump());
  EXPECT_EQ(state_.OutputChunks.size(), 3u);
  ASSERT_EQ(encoder_.Drain(), AMF_OK);
  EXPECT_TRUE(Pump());
}

TEST_F(EncodeLoopTest, OutputThatIsMissingOrNotABufferRaisesAndIsReleased) {
  encoder_.NullOutputs = {0};
  encoder_.NotBufferOutputs = {1};
  SubmitDirectly(2);
  clock_.Advance(10);
  EXPECT_NE(RaisedCode([&] { Pump(); }), 0u) << "missing";
  EXPECT_NE(RaisedCode([&] { Pump(); }), 0u) << "not a buffer";
  ASSERT_EQ(encoder_.OtherData.size(), 1u);
  EXPECT_EQ(encoder_.OtherData[0]->Refs(), 0);
}

TEST_F(EncodeLoopTest, FailedQueryRaisesAndWhateverCameWithAResultIsReleased) {
  encoder_.QueryAnswers[0] = {AMF_REPEAT, true};
  encoder_.QueryAnswers[1] = {AMF_FAIL, true};
  EXPECT_FALSE(Pump());
  EXPECT_EQ(RaisedCode([&] { Pump(); }), 0xC14D0001u);
  ASSERT_EQ(encoder_.OtherData.size(), 2u);
  EXPECT_EQ(encoder_.OtherData[0]->Refs(), 0);
  EXPECT_EQ(encoder_.OtherData[1]->Refs(), 0);
}

// --- frame timing ---

// 100 frames at 100 fps: frame k is due 10 k ms after the start.
class FrameTimingTest : public EncodeLoopTest {
 protected:
  ClipTiming Run() {
    EncodeLoopTest::Run(kClip);
    return SummariseFrames(state_.Frames, kClip, 300);
  }
  static constexpr ClipScenario kClip{64, 36, 100, 1, 1};
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

// --- surface pool ---

// The fixture's pool, as BuildSurfacePool made it.
TEST_F(EncodeLoopTest, PoolIsThirtyTwoShaderResourceSurfacesOfTheFrameSize) {
  SurfacePool& pool = pool_;
  FakeContext& context = context_;
  ASSERT_EQ(pool.Slots.size(), 32u);
  ASSERT_EQ(context.Surfaces.size(), 32u);
  EXPECT_EQ(context.ObserversGiven, 0);
  for (std::size_t i = 0; i < 32; ++i) {
    D3D11_TEXTURE2D_DESC desc;
    pool.Slots[i].Texture->GetDesc(&desc);
    EXPECT_EQ(desc.Width, 64u);
    EXPECT_EQ(desc.Height, 36u);
    EXPECT_EQ(desc.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(desc.Usage, D3D11_USAGE_DEFAULT);
    EXPECT_EQ(desc.BindFlags, D3D11_BIND_SHADER_RESOURCE);
    EXPECT_EQ(desc.CPUAccessFlags, 0u);
    EXPECT_EQ(pool.Slots[i].Surface.GetPtr(), context.Surfaces[i].get());
    EXPECT_EQ(context.Surfaces[i]->Texture, pool.Slots[i].Texture.get());
    if (i > 0) {
      EXPECT_NE(pool.Slots[i].Texture.get(), pool.Slots[i - 1].Texture.get());
    }
  }
  pool.Slots.clear();
  for (const auto& surface : context.Surfaces) EXPECT_EQ(surface->Refs(), 0);
}

TEST_F(EncodeLoopTest, PoolFailuresRaiseTheirCodes) {
  ID3D11Device* const device = device_.get();
  FakeContext context;
  context.FailingSurfaceCalls[5] = AMF_OUT_OF_MEMORY;
  SurfacePool pool;
  EXPECT_EQ(RaisedCode([&] { BuildSurfacePool(device, &context, FrameDescription(), pool); }),
            0xC14D0006u);
  pool.Slots.clear();
  for (const auto& surface : context.Surfaces) EXPECT_EQ(surface->Refs(), 0);

  D3D11_TEXTURE2D_DESC empty = FrameDescription();
  empty.Width = 0;
  SurfacePool other;
  EXPECT_EQ(RaisedCode([&] { BuildSurfacePool(device, &context, empty, other); }),
            static_cast<std::uint32_t>(E_INVALIDARG));
}

}  // namespace

}  // namespace corvantis
