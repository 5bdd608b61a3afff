#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/format_text.h"
#include "scenarios/codec_profile.h"
#include "scenarios/scenario_series.h"
#include "tests/fakes/fake_amf.h"
#include "tests/fakes/fake_series_host.h"
#include "tests/fakes/files.h"
#include "tests/series/series_fixture.h"

namespace corvantis {

namespace {

using fakes::FakeEncoder;
using fakes::FakeSeriesHost;
using series_testing::kSeed;
using series_testing::LinesStartingWith;
using series_testing::ScenarioSeriesTest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Pair;

constexpr amf::amf_uint64 kVersion = FakeSeriesHost::kVersion;
constexpr wchar_t kHeader[] = L"AVC; AMF 1.4.18.0\n\n";

TEST_F(ScenarioSeriesTest, PassingClipPrintsItsBlockAndWritesItsFiles) {
  host_.Rows = {{64, 36, 30, 1, 1}};
  RunSeries();

  const std::wstring stream = StreamName(L"64x36@30");
  EXPECT_EQ(console_.Text(),
            L"Trying to record 1 AVC clips, 30 seconds long each clip...\n"
            L"\n"
            L"Video: 64 x 36, 32-bit RGB, 30.00 frames per second, 1 seconds\n"
            L"File: " +
                stream +
                L"\n"
                L"Average Encoding Time: 5.00 ms\n"
                L"Elapsed Time: 1.0 seconds (100.00% to expected)\n"
                L"\n"
                L"64x36@30\t5.00\n"
                L"\n");
  EXPECT_EQ(session_.ResultsText, std::wstring(kSeed) + kHeader + L"64x36@30\t5.00\n\n");

  std::string expected;
  for (std::uint32_t i = 0; i < 30; ++i) {
    const auto bytes = FakeEncoder::DefaultPayload(i);
    expected.append(bytes.begin(), bytes.end());
  }
  EXPECT_EQ(FileText(stream), expected);
  EXPECT_EQ(FileText(stream + L".png").substr(0, 4), "\x89PNG");
}

TEST_F(ScenarioSeriesTest, EveryClipGetsAndReleasesItsOwnObjects) {
  host_.Rows = {{64, 36, 30, 1, 1}, {80, 45, 30, 1, 1}};
  host_.DebuggerPresent = true;
  RunSeries();

  EXPECT_EQ(host_.LoadCalls, 2);
  EXPECT_EQ(host_.TracingEnabled, 2);
  ASSERT_EQ(host_.Factory.Contexts.size(), 2u);
  ASSERT_EQ(host_.Factory.Encoders.size(), 2u);
  EXPECT_THAT(host_.Factory.ComponentIds,
              ElementsAre(L"AMFVideoEncoderVCE_AVC", L"AMFVideoEncoderVCE_AVC"));
  for (const auto& context : host_.Factory.Contexts) {
    EXPECT_EQ(context->InitDevice, session_.Device.get());
    EXPECT_EQ(context->InitVersion, amf::AMF_DX11_0);
    EXPECT_EQ(context->Surfaces.size(), 32u);
    for (const auto& surface : context->Surfaces) EXPECT_EQ(surface->Refs(), 0);
    EXPECT_EQ(context->Refs(), 0);
    EXPECT_EQ(context->TerminateCalls, 0);
  }
  for (const auto& encoder : host_.Factory.Encoders) {
    EXPECT_EQ(encoder->Accepted.size(), 30u);
    for (const auto& output : encoder->Outputs) EXPECT_EQ(output->Refs(), 0);
    EXPECT_EQ(encoder->TerminateCalls, 1);
    EXPECT_EQ(encoder->Refs(), 0);
  }
  EXPECT_EQ(host_.Factory.Encoders[1]->InitWidth, 80);
  EXPECT_EQ(host_.Factory.Encoders[1]->InitHeight, 45);
  EXPECT_FALSE(session_.FrameTexture);
  EXPECT_FALSE(session_.RenderTarget);
  EXPECT_FALSE(session_.TextFormat);
}

// --- what reaches the encoder ---

// The series hands its bit rate to each codec's configuration, whose properties, order and types
// EncoderConfigTest checks.
TEST_F(ScenarioSeriesTest, EachCodecsEncoderGetsTheSeriesBitRates) {
  host_.Rows = {{64, 36, 30, 1, 1}};
  RunSeries();
  std::once_flag hevcReported;
  profile_ = HevcProfile();
  profile_.VersionReported = &hevcReported;
  RunSeries();
  EXPECT_THAT(host_.Factory.ComponentIds,
              ElementsAre(L"AMFVideoEncoderVCE_AVC", L"AMFVideoEncoderHW_HEVC"));
  std::vector<std::pair<std::wstring, std::int64_t>> rates;
  for (const auto& encoder : host_.Factory.Encoders)
    for (const auto& set : encoder->Sets)
      if (set.Name.find(L"Bitrate") != std::wstring::npos) rates.push_back({set.Name, set.Value});
  EXPECT_THAT(rates,
              ElementsAre(Pair(L"TargetBitrate", 500000), Pair(L"PeakBitrate", 625000),
                          Pair(L"HevcTargetBitrate", 500000), Pair(L"HevcPeakBitrate", 625000)));
}

// The sample of frame k is the mean of the latency window when k is submitted; the clip average
// is the mean of the later half of the samples. Latencies that vary make neither a whole number.
TEST_F(ScenarioSeriesTest, SamplesAndTheLaterHalfAverageOfVaryingLatencies) {
  host_.Rows = {{64, 36, 60, 1, 1}};
  const auto latency = [](std::uint32_t output) {
    return 2u + output % 3u + (output % 7u == 0 ? 4u : 0u);
  };
  setUpEncoder_ = [&](FakeEncoder& encoder, std::size_t) { encoder.Latency = latency; };
  RunSeries();

  // Every output is ready (at most 8 ms) before the next frame is due (16 or 17 ms), so frame k
  // sees the latencies of the (at most 32) frames before it.
  std::vector<double> samples;
  for (std::uint32_t k = 1; k < 60; ++k) {
    const std::uint32_t first = k > 32 ? k - 32 : 0;
    double sum = 0;
    for (std::uint32_t i = first; i < k; ++i) sum += latency(i);
    samples.push_back(sum / (k - first));
  }
  double later = 0;
  for (std::size_t i = samples.size() / 2; i < samples.size(); ++i) later += samples[i];
  later /= static_cast<double>(samples.size() - samples.size() / 2);
  const std::wstring average = FormatWide(L"%.2f", later);
  ASSERT_NE(average.substr(average.size() - 2), L"00");
  EXPECT_THAT(console_.Text(), HasSubstr(L"Average Encoding Time: " + average + L" ms\n"));
  EXPECT_THAT(session_.ResultsText, HasSubstr(L"64x36@60\t" + average + L"\n"));
}

TEST_F(ScenarioSeriesTest, SnapshotThatCannotBeWrittenEndsTheSeriesWithoutAResult) {
  host_.Rows = {{64, 36, 30, 1, 1}, {80, 45, 30, 1, 1}};
  // A folder where the picture should go.
  std::filesystem::create_directory(StreamName(L"64x36@30") + L".png");
  RunSeries();
  EXPECT_EQ(session_.ResultsText, std::wstring(kSeed) + kHeader);
  EXPECT_FALSE(std::filesystem::exists(StreamName(L"64x36@30")));
  EXPECT_EQ(host_.Factory.Encoders.size(), 1u);
  EXPECT_THAT(console_.Text(), Not(HasSubstr(L"Average Encoding Time")));
}

// --- verdicts ---

TEST(ClipAverageTest, MeanOfTheLaterHalf) {
  EXPECT_EQ(ClipAverage({}), 0.0);
  EXPECT_EQ(ClipAverage({7.0}), 0.0);
  EXPECT_DOUBLE_EQ(ClipAverage({100.0, 100.0, 2.0, 3.0, 7.0}), 4.0);
  EXPECT_DOUBLE_EQ(ClipAverage({100.0, 1.0, 2.0, 4.0}), 3.0);
}

TEST_F(ScenarioSeriesTest, ElapsedOfExactly105PercentFails) {
  host_.Rows = {{64, 36, 30, 1, 2}, {80, 45, 30, 1, 2}};
  clipMs_ = {{0, 2099}, {1, 2100}};
  RunSeries();
  EXPECT_THAT(
      LinesStartingWith(console_.Text(), L"Elapsed"),
      ElementsAre(HasSubstr(L"2.1 seconds"), L"Elapsed Time: 2.1 seconds (105.00% to expected)"));
  EXPECT_EQ(session_.ResultsText,
            std::wstring(kSeed) + kHeader + L"64x36@30\t5.00\n80x45@30\tFAIL\n\n");
}

TEST_F(ScenarioSeriesTest, FailureSkipsHigherRatesUntilARowNoFasterHasRun) {
  host_.Rows = {
      {64, 36, 144, 1, 1},   // fails
      {64, 36, 260, 1, 1},   // skipped
      {80, 45, 60, 1, 1},    // runs and clears the failure
      {80, 45, 260, 1, 1},   // runs
      {96, 54, 120, 1, 1},   // fails
      {100, 56, 120, 1, 1},  // same rate: runs, fails
      {100, 56, 144, 1, 1},  // skipped
      {112, 63, 60, 1, 1},   // runs, fails as the last row
  };
  clipMs_ = {{0, 1100}, {3, 1100}, {4, 1100}, {5, 1100}};
  RunSeries();
  EXPECT_EQ(session_.ResultsText, std::wstring(kSeed) + kHeader +
                                      L"64x36@144\tFAIL\n"
                                      L"80x45@60\t5.00\n"
                                      L"80x45@260\t5.00\n"
                                      L"96x54@120\tFAIL\n"
                                      L"100x56@120\tFAIL\n"
                                      L"112x63@60\tFAIL\n"
                                      L"\n");
  EXPECT_EQ(LinesStartingWith(console_.Text(), L"Video:").size(), 6u);
}

// --- ending early ---

enum class ClipThreeFailure { EncoderInit, CreateContext };

class ClipThreeErrorTest : public ScenarioSeriesTest,
                           public ::testing::WithParamInterface<ClipThreeFailure> {};

TEST_P(ClipThreeErrorTest, EndsTheSeriesAndStillReportsTheFinishedClips) {
  host_.Rows = {{64, 36, 30, 1, 1}, {80, 45, 30, 1, 1}, {96, 54, 30, 1, 1}, {112, 63, 30, 1, 1}};
  if (GetParam() == ClipThreeFailure::EncoderInit) {
    setUpEncoder_ = [](FakeEncoder& encoder, std::size_t clip) {
      if (clip == 2) encoder.InitResult = AMF_FAIL;
    };
  } else {
    host_.Factory.FailingContextCalls[2] = AMF_FAIL;
  }
  RunSeries();
  EXPECT_EQ(session_.ResultsText,
            std::wstring(kSeed) + kHeader + L"64x36@30\t5.00\n80x45@30\t5.00\n\n");
  const std::wstring& text = console_.Text();
  const std::wstring tail =
      L"Video: 96 x 54, 32-bit RGB, 30.00 frames per second, 1 seconds\n"
      L"64x36@30\t5.00\n80x45@30\t5.00\n\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  for (const auto& encoder : host_.Factory.Encoders) EXPECT_EQ(encoder->Refs(), 0);
  for (const auto& context : host_.Factory.Contexts) EXPECT_EQ(context->Refs(), 0);
}

INSTANTIATE_TEST_SUITE_P(Failures, ClipThreeErrorTest,
                         ::testing::Values(ClipThreeFailure::EncoderInit,
                                           ClipThreeFailure::CreateContext),
                         [](const auto& test) {
                           return test.param == ClipThreeFailure::EncoderInit ? "EncoderInit"
                                                                              : "CreateContext";
                         });

TEST_F(ScenarioSeriesTest, MissingRuntimeEndsTheSeriesBeforeAnyResult) {
  host_.Rows = {{64, 36, 30, 1, 1}, {80, 45, 30, 1, 1}};
  host_.LoadResult = AMF_FAIL;
  RunSeries();
  EXPECT_EQ(console_.Text(),
            L"Trying to record 2 AVC clips, 30 seconds long each clip...\n"
            L"\n"
            L"Video: 64 x 36, 32-bit RGB, 30.00 frames per second, 1 seconds\n");
  EXPECT_EQ(session_.ResultsText, kSeed);

  std::once_flag hevcReported;
  CodecProfile hevc = HevcProfile();
  hevc.VersionReported = &hevcReported;
  RunScenarioSeries(session_, hevc, host_);
  EXPECT_EQ(host_.LoadCalls, 2);
  EXPECT_THAT(console_.Text(), HasSubstr(L"Trying to record 2 HEVC clips"));
  EXPECT_EQ(session_.ResultsText, kSeed);
  EXPECT_TRUE(host_.Factory.Contexts.empty());
}

TEST_F(ScenarioSeriesTest, ExistingStreamFileIsKeptAndEndsTheSeries) {
  host_.Rows = {{64, 36, 30, 1, 1}, {80, 45, 30, 1, 1}};
  const std::wstring stream = StreamName(L"64x36@30");
  std::ofstream(std::filesystem::path(stream)) << "keep";
  RunSeries();
  EXPECT_EQ(FileText(stream), "keep");
  EXPECT_EQ(session_.ResultsText, std::wstring(kSeed) + kHeader);
  EXPECT_EQ(host_.Factory.Encoders.size(), 1u);
  EXPECT_THAT(console_.Text(), ::testing::Not(HasSubstr(L"Average Encoding Time")));
}

// --- once per process, and the length override ---

TEST_F(ScenarioSeriesTest, VersionIsReportedOncePerProfileAfterAContextExists) {
  host_.Rows = {{64, 36, 30, 1, 1}};
  host_.Factory.FailingContextCalls[0] = AMF_FAIL;
  RunSeries();
  EXPECT_TRUE(host_.Reports.empty());

  host_.Rows = {{64, 36, 30, 1, 1}, {80, 45, 30, 1, 1}};
  RunSeries();
  host_.PacingClock.SetLocalTime({2024, 1, 3, 31, 14, 26, 0, 0});  // files of new names
  RunSeries();
  ASSERT_EQ(host_.Reports.size(), 1u);
  EXPECT_EQ(host_.Reports[0].Text, "1.4.18.0");
  EXPECT_EQ(host_.Reports[0].Version, kVersion);

  std::once_flag otherReported;
  CodecProfile other = profile_;
  other.VersionReported = &otherReported;
  host_.PacingClock.SetLocalTime({2024, 1, 3, 31, 14, 27, 0, 0});
  RunScenarioSeries(session_, other, host_);
  EXPECT_EQ(host_.Reports.size(), 2u);
}

TEST_F(ScenarioSeriesTest, ClipSecondsOverrideSetsEveryClipsLength) {
  host_.Rows = {{64, 36, 30, 1, 1}};
  session_.Options.ClipSeconds = 2;
  clipMs_ = {{0, 2000}};
  RunSeries();
  EXPECT_THAT(console_.Text(),
              HasSubstr(L"Trying to record 1 AVC clips, 2 seconds long each clip...\n"));
  EXPECT_THAT(console_.Text(), HasSubstr(L"30.00 frames per second, 2 seconds\n"));
  EXPECT_THAT(console_.Text(), HasSubstr(L"Elapsed Time: 2.0 seconds (100.00% to expected)\n"));
  ASSERT_EQ(host_.Factory.Encoders.size(), 1u);
  EXPECT_EQ(host_.Factory.Encoders[0]->Accepted.size(), 60u);
}

}  // namespace

}  // namespace corvantis
