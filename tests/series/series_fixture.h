#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"
#include "scenarios/codec_profile.h"
#include "scenarios/scenario_series.h"
#include "tests/fakes/fake_amf.h"
#include "tests/fakes/fake_series_host.h"
#include "tests/fakes/files.h"
#include "tests/frames/frame_test_support.h"

namespace corvantis {

namespace series_testing {

using fakes::FakeEncoder;
using fakes::FakeSeriesHost;

inline constexpr wchar_t kSeed[] = L"Adapter (Corvantis)\n\n";

inline std::vector<std::wstring> LinesStartingWith(const std::wstring& text,
                                                   const std::wstring& prefix) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find(L'\n', start);
    const std::wstring line = text.substr(start, end - start);
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return lines;
}

// A session on the CPU device and drawing of the program, a fake runtime whose n-th clip takes
// clipMs_[n] ms (1000 otherwise), files in a fresh temporary folder, the console captured.
class ScenarioSeriesTest : public ::testing::Test {
 protected:
  ScenarioSeriesTest() {
    host_.Directory = directory_.wstring();

    InitDrawingSession(session_);
    session_.ResultsText = kSeed;

    // A profile of our own: the program's profiles remember their report for the whole process.
    profile_ = AvcProfile();
    profile_.VersionReported = &reported_;

    host_.Factory.OnNewEncoder = [this](FakeEncoder& encoder, std::size_t clip) {
      const auto found = clipMs_.find(clip);
      const std::uint32_t ms = found != clipMs_.end() ? found->second : 1000;
      encoder.OnTerminate = [this, ms] {
        host_.PacingClock.SetNow(host_.PacingClock.PeriodStart() + ms);
      };
      if (setUpEncoder_) setUpEncoder_(encoder, clip);
    };
  }

  void RunSeries(SeriesObserver* observer = nullptr) {
    RunScenarioSeries(session_, profile_, host_, observer);
  }
  std::wstring StreamName(const wchar_t* mode) const {
    return (directory_ / (L"20240131-142501-" + std::wstring(mode) + L".h264")).wstring();
  }

  const TempDir temp_;
  const std::filesystem::path directory_ = temp_.path();
  BenchmarkSession session_;
  std::once_flag reported_;
  CodecProfile profile_{};
  FakeSeriesHost host_;
  std::map<std::size_t, std::uint32_t> clipMs_;  // wall time of the n-th clip to run; 1000 else
  std::function<void(FakeEncoder&, std::size_t)> setUpEncoder_;
  StringConsole console_;
  ScopedConsoleRedirect redirect_{console_};
};

}  // namespace series_testing

}  // namespace corvantis
