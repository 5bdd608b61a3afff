#include <sys/stat.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/utf.h"
#include "report/json_report.h"
#include "report/report_files.h"
#include "report/run_reporter.h"
#include "tests/fakes/files.h"
#include "tests/series/series_fixture.h"

namespace corvantis {

namespace {

using nlohmann::json;
using series_testing::FakeEncoder;
using series_testing::ScenarioSeriesTest;

class SeriesReportTest : public ScenarioSeriesTest {
 protected:
  json RunAndReadReport() {
    const std::string path = (directory_ / "run.json").string();
    RunRecord run;
    run.Adapter.Description = "Test adapter";
    RunReporter reporter(run, path, nullptr);
    {
      ScopedConsoleRedirect err(errors_, ScopedConsoleRedirect::Stream::Err);
      RunSeries(&reporter);
    }
    EXPECT_EQ(FileText(directory_ / "run.png").substr(0, 4), "\x89PNG");
    return json::parse(FileText(path));
  }
  StringConsole errors_;
};

TEST_F(SeriesReportTest, EveryRowInMatrixOrderUpToTheErrorThatEndedTheSeries) {
  host_.Rows = {{64, 36, 30, 1, 1},   // passes
                {64, 36, 60, 1, 1},   // too slow
                {64, 36, 120, 1, 1},  // skipped
                {80, 45, 30, 1, 1},   // its stream name is taken
                {96, 54, 30, 1, 1}};  // never reached
  clipMs_ = {{1, 1100}};
  std::ofstream(std::filesystem::path(StreamName(L"80x45@30"))) << "keep";

  const json report = RunAndReadReport();
  EXPECT_EQ(errors_.Text(), L"AVC 80x45@30: 0x80070050 The file exists.\n");
  ASSERT_EQ(report["series"].size(), 1u);
  const json& series = report["series"][0];
  EXPECT_EQ(series["codec"], "AVC");
  EXPECT_EQ(series["runtime_version"], "1.4.18.0");
  EXPECT_FALSE(series["finished"].get<bool>());
  ASSERT_EQ(series["clips"].size(), 4u);

  const json& pass = series["clips"][0];
  EXPECT_EQ(pass["mode"], "64x36@30");
  EXPECT_EQ(pass["verdict"], "pass");
  EXPECT_DOUBLE_EQ(pass["average_ms"].get<double>(), 5.0);
  EXPECT_DOUBLE_EQ(pass["elapsed_ratio"].get<double>(), 1.0);
  EXPECT_EQ(pass["frames"], 30);
  EXPECT_EQ(pass["frame_latencies_ms"], json(std::vector<int>(30, 5)));
  EXPECT_EQ(pass["frame_latencies_us"], json(std::vector<int>(30, 5000)));
  EXPECT_EQ(pass["latency_us"]["later_half"]["p99"], 5000);
  EXPECT_EQ(pass["lateness"]["late_frames"], 0);
  const std::string stream = WideToUtf8Lossy(StreamName(L"64x36@30"));
  EXPECT_EQ(pass["stream_file"], stream);
  EXPECT_EQ(pass["snapshot_file"], stream + ".png");
  EXPECT_EQ(pass["bit_rate"]["stream_bytes"], std::filesystem::file_size(stream));

  EXPECT_EQ(series["clips"][1]["verdict"], "fail");
  EXPECT_DOUBLE_EQ(series["clips"][1]["elapsed_ratio"].get<double>(), 1.1);
  EXPECT_EQ(series["clips"][2], json({{"mode", "64x36@120"},
                                      {"width", 64},
                                      {"height", 36},
                                      {"frame_rate", 120.0},
                                      {"duration_seconds", 1},
                                      {"frame_budget_ms", 1000.0 / 120},
                                      {"verdict", "skipped"}}));
  const json& error = series["clips"][3];
  EXPECT_EQ(error["verdict"], "error");
  EXPECT_EQ(error["error"]["hresult"], "0x80070050");
  EXPECT_EQ(error["error"]["message"], "The file exists.");
  EXPECT_FALSE(error.contains("average_ms"));
  EXPECT_EQ(FileText(StreamName(L"80x45@30")), "keep");
}

// Submitting takes 0.3 ms for even frames and 0.7 ms for odd ones, whose outputs are ready 1 and 3
// whole ms after: collected on the pump's whole-ms polls, they come 1.3 and 2.7 ms after their
// submission.
TEST_F(SeriesReportTest, LatenciesKeepTheClocksResolutionWhileTheAverageKeepsWholeMilliseconds) {
  host_.Rows = {{64, 36, 30, 1, 1}};
  setUpEncoder_ = [this](FakeEncoder& encoder, std::size_t) {
    encoder.Latency = [](std::uint32_t k) { return k % 2 == 0 ? 1u : 3u; };
    encoder.OnAccepted = [this](std::uint32_t k) {
      host_.PacingClock.AdvanceMicroseconds(k % 2 == 0 ? 300 : 700);
    };
  };
  const json clip = RunAndReadReport()["series"][0]["clips"][0];

  std::vector<int> us, ms;
  for (int k = 0; k < 30; ++k) {
    us.push_back(k % 2 == 0 ? 1300 : 2700);
    ms.push_back(k % 2 == 0 ? 1 : 3);
  }
  EXPECT_EQ(clip["frame_latencies_us"], json(us));
  EXPECT_EQ(clip["frame_latencies_ms"], json(ms));
  EXPECT_EQ(clip["latency_us"]["all"],
            json({{"p50", 1300}, {"p95", 2700}, {"p99", 2700}, {"max", 2700}}));
  // Odd frames are found due 0.3 ms into their millisecond.
  EXPECT_EQ(
      clip["lateness"],
      json({{"threshold_us", 1000}, {"late_frames", 0}, {"max_us", 300}, {"longest_run", 0}}));
  // The later half of the moving averages of 1, 3, 1, 3, ... ms: as the results table has it.
  EXPECT_NEAR(clip["average_ms"].get<double>(), 1.9746174, 1e-7);
  EXPECT_THAT(console_.Text(), ::testing::HasSubstr(L"64x36@30\t1.97\n"));
}

TEST_F(SeriesReportTest, ASeriesThatRanToItsEndSaysNothingOnStandardError) {
  host_.Rows = {{64, 36, 30, 1, 1}, {64, 36, 60, 1, 1}};
  const json report = RunAndReadReport();
  EXPECT_EQ(errors_.Text(), L"");
  EXPECT_TRUE(report["series"][0]["finished"].get<bool>());
  EXPECT_EQ(report["series"][0]["clips"].size(), 2u);
  EXPECT_EQ(report["schema_version"], kReportSchemaVersion);
}

TEST_F(SeriesReportTest, AReportThatCannotBeWrittenIsSaidOnceAndTheSeriesGoesOn) {
  host_.Rows = {{64, 36, 30, 1, 1}};
  const std::string path = (directory_ / "missing" / "run.json").string();
  EXPECT_THAT(ProbeWritable(path), ::testing::HasSubstr("No such file or directory"));
  EXPECT_THAT(ProbeWritable(directory_.string()), ::testing::HasSubstr("Is a directory"));
  EXPECT_EQ(ProbeWritable((directory_ / "fine.json").string()), "");

  RunReporter reporter(RunRecord{}, path, nullptr);
  ScopedConsoleRedirect err(errors_, ScopedConsoleRedirect::Stream::Err);
  RunSeries(&reporter);
  host_.PacingClock.SetLocalTime({2024, 1, 3, 31, 14, 26, 0, 0});  // files of new names
  RunSeries(&reporter);
  EXPECT_EQ(series_testing::LinesStartingWith(errors_.Text(), L"corvantis: the report").size(), 1u);
  EXPECT_THAT(console_.Text(), ::testing::HasSubstr(L"64x36@30\t5.00"));
  // Nothing but the clips' own files, and no temporary file left behind.
  for (const auto& entry : std::filesystem::directory_iterator(directory_))
    EXPECT_THAT(entry.path().string(), ::testing::ContainsRegex("\\.h264(\\.png)?$"));
}

// A neighbour's links at the names the run will write: the user's file behind them stays as it
// was, the clip says why it could not write, and the outputs that are written are 0644 even
// under an open umask.
TEST_F(SeriesReportTest, LinksAtTheReportSnapshotAndStreamNamesAreNeverWrittenThrough) {
  const std::filesystem::path victim = directory_ / "victim";
  std::ofstream(victim) << "the user's";
  const auto plant = [&](const std::filesystem::path& name) {
    std::filesystem::create_symlink(victim, name);
  };
  host_.Rows = {{64, 36, 30, 1, 1}};
  const mode_t saved = ::umask(0);
  ScopedConsoleRedirect err(errors_, ScopedConsoleRedirect::Stream::Err);

  plant(directory_ / "first.json");
  plant(StreamName(L"64x36@30") + L".png");
  {
    RunReporter reporter(RunRecord{}, (directory_ / "first.json").string(), nullptr);
    RunSeries(&reporter);
  }
  host_.PacingClock.SetLocalTime({2024, 1, 3, 31, 14, 26, 0, 0});
  const std::wstring second = (directory_ / L"20240131-142600-64x36@30.h264").wstring();
  plant(second);
  {
    RunReporter reporter(RunRecord{}, (directory_ / "second.json").string(), nullptr);
    RunSeries(&reporter);
  }
  ::umask(saved);

  EXPECT_EQ(series_testing::LinesStartingWith(errors_.Text(), L"AVC 64x36@30: 0x80070050").size(),
            2u);
  EXPECT_THAT(errors_.Text(), ::testing::HasSubstr(L"first.json: File exists"));
  EXPECT_EQ(FileText(victim), "the user's");
  for (const std::wstring& link :
       {(directory_ / "first.json").wstring(), StreamName(L"64x36@30") + L".png", second})
    EXPECT_TRUE(std::filesystem::is_symlink(link));
  for (const std::wstring& written : {(directory_ / "second.json").wstring(),
                                      (directory_ / "second.png").wstring(), second + L".png"}) {
    struct stat st {};
    ASSERT_EQ(::stat(WideToUtf8Lossy(written).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
  }
}

TEST(ReportFiles, AtomicWriteReplacesWholeOrLeavesTheOldFile) {
  const TempDir temp;
  const std::filesystem::path& directory = temp.path();
  const std::string path = (directory / "r.json").string();
  EXPECT_EQ(WriteFileAtomically(path, "first"), "");
  EXPECT_EQ(WriteFileAtomically(path, "second"), "");
  EXPECT_EQ(FileText(path), "second");
  // A directory in the way: the rename fails, and the temporary file goes.
  const std::string blocked = (directory / "dir").string();
  std::filesystem::create_directory(blocked);
  std::filesystem::create_directory(blocked + "/inside");
  EXPECT_NE(WriteFileAtomically(blocked, "x"), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory), {}), 2);

  EXPECT_EQ(ChartPathFor("/a/b.json"), "/a/b.png");
  EXPECT_EQ(ChartPathFor("/a/b"), "/a/b.png");
  EXPECT_EQ(DefaultReportPath("/x", {2026, 12, 1, 7, 9, 5, 3, 0}),
            "/x/20261207-090503-report.json");
}

}  // namespace

}  // namespace corvantis
