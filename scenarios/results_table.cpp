#include "scenarios/results_table.h"

#include "platform/console.h"
#include "platform/format_text.h"

namespace corvantis {

void AppendResultsTable(BenchmarkSession& session, const std::vector<ClipResult>& results) {
  for (const ClipResult& result : results) {
    const std::wstring line =
        FormatWide(L"%ux%u@%.0f\t%hs", result.Scenario.Width, result.Scenario.Height,
                   result.Scenario.FrameRate(), result.Outcome.c_str());
    session.ResultsText += line;
    session.ResultsText += L"\n";
    StdOut().WriteLine(line);
  }
  if (!results.empty()) {
    session.ResultsText += L"\n";
    StdOut().EndLine();
  }
}

void AppendSeriesHeader(BenchmarkSession& session, const wchar_t* label,
                        const std::string& version) {
  session.ResultsText += FormatWide(L"%s; AMF %hs", label, version.c_str());
  session.ResultsText += L"\n\n";
}

}  // namespace corvantis
