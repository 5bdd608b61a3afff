#include "report/progress_line.h"

#include "platform/format_text.h"

namespace corvantis {

namespace {

constexpr wchar_t kClear[] = L"\r\x1b[K";

}  // namespace

void ProgressLine::ClearingConsole::Write(std::wstring_view text) {
  line_.Clear();
  target_.Write(text);
}

ProgressLine::ProgressLine(Console& terminal, Clock& clock, std::size_t seriesCount)
    : terminal_(terminal),
      clock_(clock),
      seriesCount_(seriesCount),
      out_(*this, StdOut()),
      err_(*this, StdErr()),
      outRedirect_(out_, ScopedConsoleRedirect::Stream::Out),
      errRedirect_(err_, ScopedConsoleRedirect::Stream::Err) {}

ProgressLine::~ProgressLine() { Clear(); }

void ProgressLine::Clear() {
  if (!shown_) return;
  shown_ = false;
  terminal_.Write(kClear);
  terminal_.Flush();
}

void ProgressLine::SeriesStarted(const SeriesRecord& series) {
  if (!label_.empty()) ++seriesIndex_;
  label_ = series.Label;
  matrix_ = series.Matrix;
}

void ProgressLine::ClipStarted(const SeriesRecord&, std::size_t row) { row_ = row; }

std::uint32_t ProgressLine::SecondsLeft(std::uint32_t frameIndex, std::uint32_t frameCount) const {
  double seconds = 0.0;
  if (row_ < matrix_.size() && frameCount > frameIndex)
    seconds += static_cast<double>(frameCount - frameIndex) / matrix_[row_].FrameRate();
  double wholeSeries = 0.0;
  for (std::size_t i = 0; i < matrix_.size(); ++i) {
    wholeSeries += matrix_[i].DurationSeconds;
    if (i > row_) seconds += matrix_[i].DurationSeconds;
  }
  if (seriesCount_ > seriesIndex_ + 1)
    seconds += wholeSeries * static_cast<double>(seriesCount_ - seriesIndex_ - 1);
  return static_cast<std::uint32_t>(seconds + 0.5);
}

void ProgressLine::FrameDrawn(std::uint32_t frameIndex, std::uint32_t frameCount,
                              std::uint32_t windowCount, std::uint32_t latencySum) {
  const std::uint32_t now = clock_.TimeGetTime();
  if (drawnOnce_ && now - lastDraw_ < kRedrawMs) return;
  if (row_ >= matrix_.size()) return;
  drawnOnce_ = true;
  lastDraw_ = now;

  const ClipScenario& clip = matrix_[row_];
  const double average =
      windowCount != 0 ? static_cast<double>(latencySum) / static_cast<double>(windowCount) : 0.0;
  const std::uint32_t left = SecondsLeft(frameIndex, frameCount);
  const std::wstring remaining =
      left >= 60 ? FormatWide(L"~%u min left", (left + 59) / 60) : FormatWide(L"~%u s left", left);
  const std::wstring text = FormatWide(
      L"\r%ls %ux%u@%.0f  frame %u/%u  avg %.1f ms  clip %zu/%zu  %ls\x1b[K", label_.c_str(),
      clip.Width, clip.Height, clip.FrameRate(), frameIndex + 1, frameCount, average,
      seriesIndex_ * matrix_.size() + row_ + 1, seriesCount_ * matrix_.size(), remaining.c_str());
  terminal_.Write(text);
  terminal_.Flush();
  shown_ = true;
}

void ProgressLine::SeriesEnded(const SeriesRecord&) { Clear(); }

}  // namespace corvantis
