#pragma once
#include <memory>
#include <string>

#include "report/progress_line.h"
#include "report/run_record.h"
#include "scenarios/series_observer.h"

namespace corvantis {

// What a run shows and leaves beyond the described console: the progress line (when given),
// one stderr line for every series an error ended, and, when `reportPath` is not empty, the
// JSON report and its chart rewritten whenever a series ends.
class RunReporter final : public SeriesObserver {
 public:
  RunReporter(RunRecord run, std::string reportPath, std::unique_ptr<ProgressLine> progress);

  void SeriesStarted(const SeriesRecord& series) override;
  void ClipStarted(const SeriesRecord& series, std::size_t row) override;
  void FrameDrawn(std::uint32_t frameIndex, std::uint32_t frameCount, std::uint32_t windowCount,
                  std::uint32_t latencySum) override;
  void ClipEnded(const SeriesRecord& series) override;
  void SeriesEnded(const SeriesRecord& series) override;

  const RunRecord& Run() const { return run_; }

 private:
  void WriteReport();

  RunRecord run_;
  std::string reportPath_;
  std::unique_ptr<ProgressLine> progress_;
  bool reportFailed_ = false;
};

}  // namespace corvantis
