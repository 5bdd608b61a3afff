#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "app/adapter_choice.h"
#include "app/command_line.h"
#include "app/session_driver.h"
#include "platform/console.h"
#include "platform/utf.h"
#include "report/run_reporter.h"
#include "scenarios/codec_profile.h"
#include "scenarios/scenario_series.h"
#include "tests/fakes/files.h"
#include "tests/frames/frame_test_support.h"
#include "tests/series/adapter_tree.h"
#include "tests/series/runtime_series_host.h"
#include "tests/vaapi_driver/test_driver.h"

namespace corvantis {

namespace {

struct SeriesRun {
  std::wstring Console;
  std::wstring Errors;
  std::vector<std::filesystem::path> Files;  // what the run left in its folder
  std::filesystem::path Directory;

  SeriesRun() = default;
  SeriesRun(const SeriesRun&) = delete;
  SeriesRun& operator=(const SeriesRun&) = delete;
  SeriesRun(SeriesRun&&) = default;
  ~SeriesRun() {
    if (!Directory.empty()) std::filesystem::remove_all(Directory);
  }
};

// Both series of `rows` on a device whose node is `node` ("" for the software adapter), in a
// fresh folder, with the run's stderr reporter.
SeriesRun RunBothSeries(const std::string& node, std::vector<ClipScenario> rows) {
  char pattern[] = "/tmp/corvantis-hw-series-XXXXXX";
  EXPECT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path directory = pattern;
  BenchmarkSession session;
  InitDrawingSession(session, node);
  session.ResultsText = L"Adapter (Corvantis)\n\n";
  series_testing::RuntimeSeriesHost host(directory.wstring(), std::move(rows));
  RunReporter reporter(RunRecord{}, "", nullptr);

  StringConsole console, errors;
  {
    ScopedConsoleRedirect out(console);
    ScopedConsoleRedirect err(errors, ScopedConsoleRedirect::Stream::Err);
    for (CodecProfile profile : {AvcProfile(), HevcProfile()}) {
      std::once_flag reported;
      profile.VersionReported = &reported;
      RunScenarioSeries(session, profile, host, &reporter);
    }
  }
  SeriesRun run;
  run.Console = console.Text();
  run.Errors = errors.Text();
  run.Directory = directory;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    run.Files.push_back(entry.path());
  // By what follows the time stamp: mode and extensions, the same in every run.
  std::sort(run.Files.begin(), run.Files.end(), [](const auto& a, const auto& b) {
    return a.filename().string().substr(16) < b.filename().string().substr(16);
  });
  return run;
}

// A hardware adapter's device whose node has no VA driver: each series ends at its first clip as
// for an encoder that does not start, and nothing is encoded or written.
TEST(HardwareSeries, NodeWithoutAVaDriverEndsEachSeriesAtItsFirstClip) {
  const TempDir temp;
  const std::string node = temp.path() / "renderD128";
  close(open(node.c_str(), O_CREAT | O_WRONLY, 0600));
  const SeriesRun run = RunBothSeries(node, {{64, 36, 30, 1, 1}, {80, 46, 30, 1, 1}});
  EXPECT_EQ(run.Console,
            L"Trying to record 2 AVC clips, 30 seconds long each clip...\n\n"
            L"Video: 64 x 36, 32-bit RGB, 30.00 frames per second, 1 seconds\n"
            L"Trying to record 2 HEVC clips, 30 seconds long each clip...\n\n"
            L"Video: 64 x 36, 32-bit RGB, 30.00 frames per second, 1 seconds\n");
  EXPECT_TRUE(run.Files.empty()) << run.Files.front();
}

// The console with every number after "Time:" or in a results row, and every file name, made
// alike: what differs between two runs of the same clips.
std::wstring Shape(const std::wstring& console) {
  std::wstring shape;
  std::wistringstream lines(console);
  for (std::wstring line; std::getline(lines, line);) {
    if (line.rfind(L"File: ", 0) == 0)
      line = L"File: " + std::filesystem::path(line.substr(6)).extension().wstring();
    for (const wchar_t* label : {L"Average Encoding Time: ", L"Elapsed Time: "})
      if (line.rfind(label, 0) == 0) line = label;
    if (const std::size_t tab = line.find(L'\t'); tab != std::wstring::npos)
      line = line.substr(0, tab + 1);
    shape += line + L"\n";
  }
  return shape;
}

// Access units (each begins with a delimiter) and parameter sets of an Annex-B stream file.
std::pair<int, int> UnitsAndParameterSets(const std::filesystem::path& file) {
  const bool hevc = file.extension() == ".h265";
  const std::string s = FileText(file);
  int units = 0, sets = 0;
  for (std::size_t i = 0; i + 3 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const auto header = static_cast<unsigned char>(s[i + 3]);
    const int type = hevc ? (header >> 1) & 0x3F : header & 0x1F;
    units += type == (hevc ? 35 : 9);
    sets += hevc ? type >= 32 && type <= 34 : type == 7 || type == 8;
  }
  return {units, sets};
}

// The first clips of each series through the real series code on the tests' VA driver give the
// console and the files that the software adapter gives, and each clip frees what it made.
TEST(HardwareSeries, FirstClipsOnAVaDriverGiveTheSoftwareAdaptersConsoleAndFiles) {
  // The faster clip first: a verdict the machine's load turns to FAIL skips nothing.
  const std::vector<ClipScenario> rows = {{320, 180, 60, 1, 1}, {64, 36, 30, 1, 1}};
  const SeriesRun software = RunBothSeries("", rows);
  TestVaDriver driver("radeonsi");
  const SeriesRun hardware = RunBothSeries(driver.Node(), rows);
  EXPECT_EQ(driver.Live(), vadriver::LiveObjects{});

  EXPECT_EQ(Shape(hardware.Console), Shape(software.Console)) << WideToUtf8Lossy(hardware.Console);
  EXPECT_EQ(hardware.Errors, L"");
  ASSERT_EQ(hardware.Files.size(), software.Files.size());
  ASSERT_EQ(hardware.Files.size(), 8u) << "a stream and a picture per clip";
  for (std::size_t i = 0; i < hardware.Files.size(); ++i) {
    SCOPED_TRACE(hardware.Files[i].string());
    EXPECT_EQ(hardware.Files[i].filename().string().substr(16),
              software.Files[i].filename().string().substr(16));
    if (hardware.Files[i].extension() == ".png") continue;
    const auto [units, sets] = UnitsAndParameterSets(hardware.Files[i]);
    EXPECT_EQ(std::pair(units, sets), UnitsAndParameterSets(software.Files[i]));
    EXPECT_EQ(units, hardware.Files[i].string().find("@60") != std::string::npos ? 60 : 30);
  }
}

// vaSyncSurface failing in the middle of a clip ends that series with the reason on stderr,
// leaves no partial stream, frees what the clip made, and the next series runs.
TEST(HardwareSeries, SyncFailingMidClipEndsTheSeriesAndRemovesItsPartialStream) {
  TestVaDriver driver("radeonsi");
  driver.With([](vadriver::Control& c) { c.faults.entries.push_back({"vaSyncSurface", 25}); });
  const SeriesRun run = RunBothSeries(driver.Node(), {{64, 36, 30, 1, 1}});
  EXPECT_EQ(driver.Live(), vadriver::LiveObjects{});
  EXPECT_EQ(run.Errors.rfind(L"AVC 64x36@30: 0x", 0), 0u) << WideToUtf8Lossy(run.Errors);
  EXPECT_EQ(std::count(run.Errors.begin(), run.Errors.end(), L'\n'), 1)
      << WideToUtf8Lossy(run.Errors);
  for (const auto& file : run.Files) EXPECT_NE(file.extension(), ".h264") << file;
  EXPECT_EQ(std::count_if(run.Files.begin(), run.Files.end(),
                          [](const auto& f) { return f.extension() == ".h265"; }),
            1);
}

// "-Adapter:1" of two AMD adapters takes the second, whose node has the VA driver: its clips run
// there (the first node has none and would stop both series at once).
TEST(HardwareSeries, TheSecondOfTwoAdaptersChosenRunsTheClipsOnItsNode) {
  TestVaDriver driver("radeonsi");
  series_testing::AdapterTree tree;
  tree.Add(128, "0000:00:02.0", "/dev/null");
  const std::string second = tree.Add(129, "0000:03:00.0", driver.Node());
  BenchmarkSession session = ParseSessionArguments({L"corvantis", L"-Adapter:1"});
  ASSERT_TRUE(session.Options.AdapterChoice);
  session.Options.AdapterIndex =
      ResolveAdapterChoice(*session.Options.AdapterChoice, ListRenderNodes(tree.Sources()));
  ASSERT_EQ(CreateLinuxAdapterFactory(tree.Sources(), session.DxgiFactory.put()), S_OK);
  SelectAmdAdapter(session);
  ASSERT_EQ(std::string(session.Adapter->RenderNodePath()), second);

  const SeriesRun run = RunBothSeries(session.Adapter->RenderNodePath(), {{64, 36, 30, 1, 1}});
  EXPECT_EQ(run.Errors, L"");
  EXPECT_EQ(driver.With([](vadriver::Control& c) { return c.record.pictures.size(); }), 60u)
      << "30 frames of each codec";
}

}  // namespace

}  // namespace corvantis
