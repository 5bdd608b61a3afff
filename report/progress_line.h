#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "scenarios/series_observer.h"

namespace corvantis {

// One status line on a terminal, rewritten in place at most every 250 ms, for example
// "HEVC 1920x1080@60  frame 812/1800  avg 9.4 ms  clip 23/40  ~6 min left". While it lives, the
// standard streams are routed through it so that the line is cleared before any other text.
class ProgressLine final : public SeriesObserver {
 public:
  // `terminal` receives the line; `seriesCount` series of the same matrix make up the run.
  ProgressLine(Console& terminal, Clock& clock, std::size_t seriesCount);
  ~ProgressLine() override;
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void SeriesStarted(const SeriesRecord& series) override;
  void ClipStarted(const SeriesRecord& series, std::size_t row) override;
  void FrameDrawn(std::uint32_t frameIndex, std::uint32_t frameCount, std::uint32_t windowCount,
                  std::uint32_t latencySum) override;
  void ClipEnded(const SeriesRecord&) override {}
  void SeriesEnded(const SeriesRecord& series) override;

  // Removes the line from the terminal if it is shown.
  void Clear();

  static constexpr std::uint32_t kRedrawMs = 250;

 private:
  class ClearingConsole final : public Console {
   public:
    ClearingConsole(ProgressLine& line, Console& target) : line_(line), target_(target) {}
    void Write(std::wstring_view text) override;
    void Flush() override { target_.Flush(); }

   private:
    ProgressLine& line_;
    Console& target_;
  };

  std::uint32_t SecondsLeft(std::uint32_t frameIndex, std::uint32_t frameCount) const;

  Console& terminal_;
  Clock& clock_;
  const std::size_t seriesCount_;
  ClearingConsole out_;
  ClearingConsole err_;
  ScopedConsoleRedirect outRedirect_;
  ScopedConsoleRedirect errRedirect_;

  std::wstring label_;
  std::vector<ClipScenario> matrix_;
  std::size_t seriesIndex_ = 0;
  std::size_t row_ = 0;
  bool shown_ = false;
  bool drawnOnce_ = false;
  std::uint32_t lastDraw_ = 0;
};

}  // namespace corvantis
