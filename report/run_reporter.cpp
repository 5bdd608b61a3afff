#include "report/run_reporter.h"

#include "platform/console.h"
#include "platform/utf.h"
#include "report/json_report.h"
#include "report/report_files.h"
#include "report/results_chart.h"
#include "report/stop_reason.h"

namespace corvantis {

RunReporter::RunReporter(RunRecord run, std::string reportPath,
                         std::unique_ptr<ProgressLine> progress)
    : run_(std::move(run)), reportPath_(std::move(reportPath)), progress_(std::move(progress)) {}

void RunReporter::SeriesStarted(const SeriesRecord& series) {
  if (progress_) progress_->SeriesStarted(series);
}

void RunReporter::ClipStarted(const SeriesRecord& series, std::size_t row) {
  if (progress_) progress_->ClipStarted(series, row);
}

void RunReporter::FrameDrawn(std::uint32_t frameIndex, std::uint32_t frameCount,
                             std::uint32_t windowCount, std::uint32_t latencySum) {
  if (progress_) progress_->FrameDrawn(frameIndex, frameCount, windowCount, latencySum);
}

void RunReporter::ClipEnded(const SeriesRecord& series) {
  if (progress_) progress_->ClipEnded(series);
}

void RunReporter::SeriesEnded(const SeriesRecord& series) {
  if (progress_) progress_->SeriesEnded(series);
  const std::wstring reason = StopReasonLine(series);
  if (!reason.empty()) StdErr().WriteLine(reason);
  run_.Series.push_back(series);
  if (!reportPath_.empty()) WriteReport();
}

void RunReporter::WriteReport() {
  if (run_.CompleteStack) run_.CompleteStack(run_.Stack);
  std::string failure = WriteFileAtomically(reportPath_, ReportJson(run_).dump(1));
  if (failure.empty()) failure = WriteResultsChart(run_, ChartPathFor(reportPath_));
  // Said once: a disk that filled up would otherwise repeat it after every series.
  if (!failure.empty() && !reportFailed_)
    StdErr().WriteLine(L"corvantis: the report could not be written: " + Utf8ToWide(failure));
  reportFailed_ = reportFailed_ || !failure.empty();
}

}  // namespace corvantis
