#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "amf/api/interfaces.h"
#include "amf/clip_scenario.h"
#include "platform/clock.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/codec_profile.h"
#include "scenarios/series_observer.h"

namespace corvantis {

// What a series needs besides the session; the program's own is app/'s ProductionSeriesHost().
class SeriesHost {
 public:
  virtual ~SeriesHost() = default;
  virtual std::span<const ClipScenario> Matrix() = 0;
  virtual AMF_RESULT LoadRuntime() = 0;
  virtual amf::AMFFactory* RuntimeFactory() = 0;
  virtual amf::amf_uint64 RuntimeVersion() = 0;
  virtual bool IsDebuggerPresent() = 0;
  virtual void EnableAmfDebugTracing() = 0;
  virtual void ReportAmfVersion(const std::string& versionText, amf::amf_uint64 version) = 0;
  virtual Clock& GetClock() = 0;
  // Where the clip files go.
  virtual std::wstring OutputDirectory() = 0;
};

// Mean of the later half of the samples (index n/2 to n-1); 0 with fewer than two.
double ClipAverage(const std::vector<double>& samples);

// True when a clip of `durationSeconds` that took `elapsedSeconds` kept up (ratio below 1.05).
bool ClipPassed(double elapsedSeconds, std::uint32_t durationSeconds);

// True when `row` is skipped after the failure of `failed` (a strictly higher frame rate).
bool SkipAfterFailure(const std::optional<ClipScenario>& failed, const ClipScenario& row);

// Encodes every row of the host's matrix with one codec in real time, judges each clip, and
// appends the series' table to ResultsText. An error ends the series (nothing printed about it);
// the clips finished before it are still reported. Options.ClipSeconds non-zero replaces each
// row's duration. The observer, when given, receives every row's record as it ends.
void RunScenarioSeries(BenchmarkSession& session, const CodecProfile& profile, SeriesHost& host,
                       SeriesObserver* observer = nullptr);

}  // namespace corvantis
