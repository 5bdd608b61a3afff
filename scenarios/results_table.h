#pragma once
#include <string>
#include <vector>

#include "amf/clip_scenario.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

// The row of a finished clip: "%.2f" of its average encoding time, or "FAIL".
struct ClipResult {
  ClipScenario Scenario;
  std::string Outcome;
};

// "WxH@rate\toutcome" per clip, appended to ResultsText with "\n" and printed; then one empty
// line when there was any clip.
void AppendResultsTable(BenchmarkSession& session, const std::vector<ClipResult>& results);

// The series header "<label>; AMF <version>" followed by an empty line, appended to ResultsText.
void AppendSeriesHeader(BenchmarkSession& session, const wchar_t* label,
                        const std::string& version);

}  // namespace corvantis
