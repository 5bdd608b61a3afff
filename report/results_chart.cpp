#include "report/results_chart.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/com_ptr.h"
#include "platform/drawing/cairo_drawing.h"
#include "platform/drawing/cairo_handles.h"
#include "platform/format_text.h"
#include "platform/system_message.h"
#include "platform/utf.h"
#include "report/stop_reason.h"

namespace corvantis {

namespace {

using drawing::ContextPtr;
using drawing::SurfacePtr;

constexpr std::uint32_t kText = 0x202020;
constexpr std::uint32_t kGrid = 0xDDDDDD;
constexpr std::uint32_t kBudget = 0x1F4E9A;

void SetColour(cairo_t* cr, std::uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double size, bool bold = false,
          double anchor = 0.0) {
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL,
                         bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_move_to(cr, x - extents.x_advance * anchor, y);
  cairo_show_text(cr, text.c_str());
}

double Budget(const ClipScenario& s) { return 1000.0 / s.FrameRate(); }

double Ms(std::int32_t microseconds) { return microseconds / 1000.0; }

std::string Number(double ms) {
  return ms < 1.0 ? FormatNarrow("%.1f", ms) : FormatNarrow("%.0f", ms);
}

// The dashed frame-budget mark from x0 to x1 at height y.
void BudgetLine(cairo_t* cr, double x0, double x1, double y) {
  SetColour(cr, kBudget);
  const double dash[] = {5, 3};
  cairo_set_dash(cr, dash, 2, 0);
  cairo_set_line_width(cr, 2);
  cairo_move_to(cr, x0, y);
  cairo_line_to(cr, x1, y);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0);
}

void DrawLegend(cairo_t* cr, double x, double y) {
  const std::pair<ClipVerdict, const char*> verdicts[] = {{ClipVerdict::Pass, "pass"},
                                                          {ClipVerdict::Fail, "fail"},
                                                          {ClipVerdict::Skipped, "skipped"},
                                                          {ClipVerdict::Error, "error"}};
  for (const auto& [verdict, name] : verdicts) {
    SetColour(cr, VerdictColour(verdict));
    cairo_rectangle(cr, x, y - 11, 14, 14);
    cairo_fill(cr);
    SetColour(cr, kText);
    Text(cr, x + 19, y, name, 13);
    x += 92;
  }
  SetColour(cr, kText);
  cairo_rectangle(cr, x + 4, y - 11, 6, 14);
  cairo_stroke(cr);
  Text(cr, x + 17, y, "p50-p99 latency", 13);
  x += 138;
  cairo_arc(cr, x + 6, y - 4, 4, 0, 2 * M_PI);
  cairo_fill(cr);
  Text(cr, x + 15, y, "average", 13);
  x += 84;
  BudgetLine(cr, x, x + 24, y - 4);
  SetColour(cr, kText);
  Text(cr, x + 30, y, "frame budget 1000/rate ms", 13);
}

// The codec's name, and for a series that an error ended, the mode, code and text of that error.
void DrawHeading(cairo_t* cr, double top, const SeriesRecord& series) {
  SetColour(cr, kText);
  std::string heading = WideToUtf8Lossy(series.Label);
  if (!series.Finished && !series.Clips.empty() &&
      series.Clips.back().Verdict == ClipVerdict::Error) {
    const ClipRecord& last = series.Clips.back();
    heading += "  - ended at " + WideToUtf8Lossy(ModeText(last.Scenario)) + " by " +
               FormatNarrow("0x%08X ", static_cast<unsigned>(last.ErrorCode)) +
               WideToUtf8Lossy(ErrorText(last.ErrorCode, last.ErrorMessage));
  }
  Text(cr, ChartLayout::kPlotLeft, top + 26, heading, 17, true);
}

// The latency axis of one panel: grid, labels and the frame around the plot.
void DrawAxis(cairo_t* cr, const ChartLayout& layout, std::size_t panel) {
  const double plotTop = layout.PanelTop(panel) + ChartLayout::kPlotTop;
  const double plotBottom = layout.PanelTop(panel) + ChartLayout::kPlotBottom;
  // Logarithmic grid at 1-2-5 steps; over a wide range only the powers of ten are labelled.
  const bool labelEveryStep = layout.MaxMs / ChartLayout::kMinMs <= 2000.0;
  cairo_set_line_width(cr, 1);
  for (double decade = 0.1; decade <= layout.MaxMs * 1.001; decade *= 10) {
    for (double step : {1.0, 2.0, 5.0}) {
      const double ms = decade * step;
      if (ms < ChartLayout::kMinMs || ms > layout.MaxMs * 1.001) continue;
      const double y = std::round(layout.ValueY(panel, ms)) + 0.5;
      SetColour(cr, step == 1.0 ? 0xC8C8C8 : kGrid);
      cairo_move_to(cr, ChartLayout::kPlotLeft, y);
      cairo_line_to(cr, ChartLayout::kPlotRight, y);
      cairo_stroke(cr);
      if (!labelEveryStep && step != 1.0) continue;
      SetColour(cr, kText);
      Text(cr, ChartLayout::kPlotLeft - 8, y + 4, Number(ms), 12, false, 1.0);
    }
  }
  SetColour(cr, kText);
  cairo_save(cr);
  cairo_translate(cr, 20, (plotTop + plotBottom) / 2);
  cairo_rotate(cr, -M_PI / 2);
  Text(cr, 0, 0, "latency, ms (log scale)", 13, false, 0.5);
  cairo_restore(cr);
  SetColour(cr, 0x888888);
  cairo_rectangle(cr, ChartLayout::kPlotLeft + 0.5, plotTop + 0.5,
                  ChartLayout::kPlotRight - ChartLayout::kPlotLeft - 1.0,
                  plotBottom - plotTop - 1.0);
  cairo_stroke(cr);
}

// The mark of one clip centred on x: its latency bar and average, or a box on its budget line
// when nothing was measured, and the verdict's name under a clip that was skipped or failed.
void DrawClip(cairo_t* cr, const ChartLayout& layout, std::size_t panel, double x, double budgetY,
              const ClipRecord& clip) {
  const double plotBottom = layout.PanelTop(panel) + ChartLayout::kPlotBottom;
  const double half = layout.BarHalfWidth();
  const std::uint32_t colour = VerdictColour(clip.Verdict);
  SetColour(cr, colour);
  if (clip.Timing.Frames != 0) {
    const double y50 = layout.ValueY(panel, Ms(clip.Timing.All.P50));
    const double y99 = layout.ValueY(panel, Ms(clip.Timing.All.P99));
    cairo_rectangle(cr, x - half, y99 - 2, 2 * half, std::max(4.0, y50 - y99 + 4));
    cairo_fill(cr);
    if (clip.Verdict != ClipVerdict::Error) {
      SetColour(cr, 0x000000);
      cairo_arc(cr, x + half + 7, layout.ValueY(panel, clip.AverageMs), 4, 0, 2 * M_PI);
      cairo_fill(cr);
    }
  } else if (clip.Verdict == ClipVerdict::Skipped) {
    // An empty box on its budget line: nothing was measured.
    cairo_set_line_width(cr, 3);
    cairo_rectangle(cr, x - half + 1.5, budgetY - 7.5, 2 * half - 3, 15);
    cairo_stroke(cr);
  } else {
    // Ended before it measured anything.
    cairo_rectangle(cr, x - half, budgetY - 8, 2 * half, 16);
    cairo_fill(cr);
  }
  if (clip.Verdict == ClipVerdict::Skipped || clip.Verdict == ClipVerdict::Error) {
    SetColour(cr, colour);
    Text(cr, x, plotBottom - 8, VerdictName(clip.Verdict), 11, true, 0.5);
  }
}

void DrawPanel(cairo_t* cr, const ChartLayout& layout, std::size_t panel,
               const SeriesRecord& series) {
  const double plotBottom = layout.PanelTop(panel) + ChartLayout::kPlotBottom;
  DrawHeading(cr, layout.PanelTop(panel), series);
  DrawAxis(cr, layout, panel);
  for (std::size_t i = 0; i < series.Matrix.size() && i < layout.Modes; ++i) {
    const ClipScenario& mode = series.Matrix[i];
    const double x = layout.ModeCenterX(i);
    SetColour(cr, kText);
    Text(cr, x, plotBottom + 20, FormatNarrow("%ux%u", mode.Width, mode.Height), 12, false, 0.5);
    Text(cr, x, plotBottom + 37, FormatNarrow("@%.0f", mode.FrameRate()), 12, true, 0.5);
    const double budgetY = layout.ValueY(panel, Budget(mode));
    if (i < series.Clips.size()) {
      DrawClip(cr, layout, panel, x, budgetY, series.Clips[i]);
    } else {
      SetColour(cr, 0xAAAAAA);
      Text(cr, x, plotBottom - 8, "not run", 11, false, 0.5);
    }
    BudgetLine(cr, x - layout.SlotWidth() * 0.42, x + layout.SlotWidth() * 0.42, budgetY);
  }
}

SurfacePtr Draw(const RunRecord& run, const ChartLayout& layout) {
  SurfacePtr surface(
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, ChartLayout::kWidth, layout.Height()));
  ContextPtr cr(cairo_create(surface.get()));
  SetColour(cr.get(), 0xFFFFFF);
  cairo_paint(cr.get());

  SetColour(cr.get(), kText);
  Text(cr.get(), 24, 34, "Corvantis: " + run.Adapter.Description, 22, true);
  std::string version;
  for (const SeriesRecord& s : run.Series)
    if (version.empty()) version = s.RuntimeVersion;
  std::string line = "encoder runtime " + (version.empty() ? std::string("not loaded") : version);
  for (const SeriesRecord& s : run.Series)
    if (!s.EncoderLibrary.empty())
      line += "   |   " + WideToUtf8Lossy(s.Label) + ": " + WideToUtf8Lossy(s.EncoderLibrary);
  const std::uint32_t seconds = run.Options.ClipSeconds != 0 ? run.Options.ClipSeconds : 30;
  std::string date = run.StartUtc;  // "2026-12-07T10:32:23Z" shown as "2026-12-07 10:32 UTC"
  if (date.size() >= 16) date = date.substr(0, 10) + " " + date.substr(11, 5) + " UTC";
  line += "   |   " + FormatNarrow("%u s clips", seconds) + "   |   " + date;
  Text(cr.get(), 24, 60, line, 15);
  DrawLegend(cr.get(), 24, 86);
  for (std::size_t panel = 0; panel < run.Series.size(); ++panel)
    DrawPanel(cr.get(), layout, panel, run.Series[panel]);
  cairo_surface_flush(surface.get());
  return surface;
}

}  // namespace

double ChartLayout::ValueY(std::size_t panel, double ms) const {
  const double top = PanelTop(panel) + kPlotTop + 6;
  const double bottom = PanelTop(panel) + kPlotBottom - 6;
  const double v = std::clamp(ms, kMinMs, MaxMs);
  const double f = (std::log10(v) - std::log10(kMinMs)) / (std::log10(MaxMs) - std::log10(kMinMs));
  return bottom - f * (bottom - top);
}

ChartLayout LayoutFor(const RunRecord& run) {
  ChartLayout layout;
  layout.Panels = run.Series.size();
  double highest = 50.0;
  for (const SeriesRecord& s : run.Series) {
    layout.Modes = std::max(layout.Modes, s.Matrix.size());
    for (const ClipScenario& mode : s.Matrix) highest = std::max(highest, Budget(mode));
    for (const ClipRecord& c : s.Clips) {
      highest = std::max(highest, Ms(c.Timing.All.P99));
      highest = std::max(highest, c.AverageMs);
    }
  }
  // The first 1-2-5 step above the highest mark.
  for (double decade = 1.0;; decade *= 10)
    for (double step : {1.0, 2.0, 5.0})
      if (decade * step >= highest * 1.15) {
        layout.MaxMs = decade * step;
        return layout;
      }
  return layout;
}

std::uint32_t VerdictColour(ClipVerdict verdict) {
  switch (verdict) {
    case ClipVerdict::Pass: return 0x1A9850;
    case ClipVerdict::Fail: return 0xD73027;
    case ClipVerdict::Skipped: return 0x9E9E9E;
    case ClipVerdict::Error: return 0x7B3FB5;
  }
  return 0x000000;
}

std::string WriteResultsChart(const RunRecord& run, const std::string& path) {
  const ChartLayout layout = LayoutFor(run);
  SurfacePtr surface = Draw(run, layout);
  // RGB24 rows are 32-bit BGR in memory: the clips' snapshot format, through the same writer.
  const int stride = cairo_image_surface_get_stride(surface.get());
  com_ptr<IWICImagingFactory> imaging;
  com_ptr<IWICBitmap> bitmap;
  HRESULT result = CreatePngImagingFactory(imaging.put());
  if (SUCCEEDED(result)) {
    result = imaging->CreateBitmapFromMemory(
        ChartLayout::kWidth, static_cast<std::uint32_t>(layout.Height()),
        static_cast<std::uint32_t>(stride), static_cast<std::uint32_t>(stride * layout.Height()),
        cairo_image_surface_get_data(surface.get()), bitmap.put());
  }
  if (SUCCEEDED(result)) result = imaging->WritePng(bitmap.get(), Utf8ToWide(path));
  if (SUCCEEDED(result)) return {};
  const std::wstring text = SystemMessage(result);
  return path + ": " +
         (text.empty() ? FormatNarrow("0x%08X", static_cast<unsigned>(result))
                       : WideToUtf8Lossy(text));
}

}  // namespace corvantis
