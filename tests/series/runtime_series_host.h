#pragma once
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "amf/factory_helper.h"
#include "platform/clock.h"
#include "platform/utf.h"
#include "scenarios/scenario_series.h"

namespace corvantis {

namespace series_testing {

// The real encoder runtime, loaded from the build as the program loads it, on the machine's clock;
// the series runs `rows` and writes into `directory`.
class RuntimeSeriesHost final : public SeriesHost {
 public:
  RuntimeSeriesHost(std::wstring directory, std::vector<ClipScenario> rows)
      : rows_(std::move(rows)), directory_(std::move(directory)) {}
  std::span<const ClipScenario> Matrix() override { return rows_; }
  AMF_RESULT LoadRuntime() override { return loader_.LoadRuntime(); }
  amf::AMFFactory* RuntimeFactory() override { return loader_.RuntimeFactory(); }
  amf::amf_uint64 RuntimeVersion() override { return loader_.RuntimeVersion(); }
  bool IsDebuggerPresent() override { return false; }
  void EnableAmfDebugTracing() override {}
  void ReportAmfVersion(const std::string&, amf::amf_uint64) override {}
  Clock& GetClock() override { return SystemClock(); }
  std::wstring OutputDirectory() override { return directory_; }

 private:
  std::vector<ClipScenario> rows_;
  AMFFactoryHelper loader_{Utf8ToWide(AMFRT_LIBRARY_PATH)};
  std::wstring directory_;
};

}  // namespace series_testing

}  // namespace corvantis
