#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "report/run_record.h"

namespace corvantis {

// Where the chart puts things, so that a reader (or a test) can find a clip's marks.
struct ChartLayout {
  static constexpr int kWidth = 1600;
  static constexpr int kTitleHeight = 96;
  static constexpr int kPanelHeight = 430;
  static constexpr int kPlotLeft = 86;
  static constexpr int kPlotRight = kWidth - 24;
  static constexpr int kPlotTop = 44;      // within a panel
  static constexpr int kPlotBottom = 356;  // within a panel; mode labels below
  static constexpr double kMinMs = 0.5;

  std::size_t Panels = 0;
  std::size_t Modes = 20;
  double MaxMs = 100.0;  // top of the logarithmic latency axis

  int Height() const { return kTitleHeight + static_cast<int>(Panels) * kPanelHeight + 12; }
  int PanelTop(std::size_t panel) const {
    return kTitleHeight + static_cast<int>(panel) * kPanelHeight;
  }
  double SlotWidth() const {
    return static_cast<double>(kPlotRight - kPlotLeft) / static_cast<double>(Modes);
  }
  double ModeCenterX(std::size_t mode) const {
    return kPlotLeft + SlotWidth() * (static_cast<double>(mode) + 0.5);
  }
  // Latency (ms) to a y inside the panel, clamped to the axis.
  double ValueY(std::size_t panel, double ms) const;
  // Half the width of a clip's latency bar.
  double BarHalfWidth() const { return SlotWidth() * 0.2; }
};

// The layout for a run: one panel per series, the axis tall enough for every p99 and budget.
ChartLayout LayoutFor(const RunRecord& run);

// Verdict colours as 0xRRGGBB: distinct at a glance and in print.
std::uint32_t VerdictColour(ClipVerdict verdict);

// Writes the run's results as a PNG chart over `path`: per codec a panel with its modes along the
// x axis, each clip's p50-p99 latency range coloured by verdict, its average as a dot, and its
// frame budget (1000/rate ms) as a dashed mark; a title with adapter, runtime and date, the layout
// LayoutFor's. Empty on success, else why it failed.
std::string WriteResultsChart(const RunRecord& run, const std::string& path);

}  // namespace corvantis
