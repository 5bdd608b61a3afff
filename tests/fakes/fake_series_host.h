#pragma once
#include <span>
#include <string>
#include <vector>

#include "scenarios/scenario_series.h"
#include "tests/fakes/fake_amf.h"

namespace corvantis {

namespace fakes {

struct VersionReport {
  std::string Text;
  amf::amf_uint64 Version;
};

// A series host over the fake runtime: rows, load result, clock and folder are the test's.
class FakeSeriesHost final : public SeriesHost {
 public:
  std::span<const ClipScenario> Matrix() override { return Rows; }
  AMF_RESULT LoadRuntime() override {
    ++LoadCalls;
    return LoadResult;
  }
  amf::AMFFactory* RuntimeFactory() override { return &Factory; }
  amf::amf_uint64 RuntimeVersion() override { return kVersion; }
  static constexpr amf::amf_uint64 kVersion = amf::AMF_MAKE_FULL_VERSION(1, 4, 18, 0);
  bool IsDebuggerPresent() override { return DebuggerPresent; }
  void EnableAmfDebugTracing() override { ++TracingEnabled; }
  void ReportAmfVersion(const std::string& versionText, amf::amf_uint64 version) override {
    Reports.push_back({versionText, version});
  }
  Clock& GetClock() override { return PacingClock; }
  std::wstring OutputDirectory() override { return Directory; }

  std::vector<ClipScenario> Rows;
  AMF_RESULT LoadResult = AMF_OK;
  bool DebuggerPresent = false;
  std::wstring Directory;
  FakeClock PacingClock;
  FakeFactory Factory{&PacingClock};

  int LoadCalls = 0;
  int TracingEnabled = 0;
  std::vector<VersionReport> Reports;
};

}  // namespace fakes

}  // namespace corvantis
