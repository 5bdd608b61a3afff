#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "report/results_chart.h"

namespace corvantis {

namespace {

// Percentiles in ms, kept as the report keeps them, in us.
ClipRecord Measured(const ClipScenario& s, ClipVerdict verdict, double p50, double p99,
                    double average) {
  ClipRecord clip;
  clip.Scenario = s;
  clip.Verdict = verdict;
  clip.Timing.Frames = 30;
  clip.Timing.All.P50 = static_cast<std::int32_t>(std::lround(p50 * 1000));
  clip.Timing.All.P99 = static_cast<std::int32_t>(std::lround(p99 * 1000));
  clip.AverageMs = average;
  return clip;
}

ClipRecord Unmeasured(const ClipScenario& s, ClipVerdict verdict) {
  ClipRecord clip;
  clip.Scenario = s;
  clip.Verdict = verdict;
  return clip;
}

std::vector<ClipScenario> Matrix() {
  std::vector<ClipScenario> rows;
  for (std::uint32_t rate : {30u, 60u, 120u, 144u, 260u}) rows.push_back({640, 360, rate, 1, 1});
  return rows;
}

class ResultsChartTest : public ::testing::Test {
 protected:
  ResultsChartTest() {
    SeriesRecord avc;
    avc.Label = L"AVC";
    avc.Matrix = Matrix();
    avc.Clips = {Measured(avc.Matrix[0], ClipVerdict::Pass, 2, 8, 4.0),
                 Measured(avc.Matrix[1], ClipVerdict::Fail, 40, 90, 60.0),
                 Unmeasured(avc.Matrix[2], ClipVerdict::Skipped),
                 Unmeasured(avc.Matrix[3], ClipVerdict::Error)};
    SeriesRecord hevc;
    hevc.Label = L"HEVC";
    hevc.Matrix = Matrix();
    hevc.Finished = true;
    hevc.Clips = {Measured(hevc.Matrix[0], ClipVerdict::Pass, 1.3, 2.7, 2.0)};
    run_.Series = {avc, hevc};
    layout_ = LayoutFor(run_);
    // The chart as the report leaves it, read back.
    const std::string path = std::filesystem::temp_directory_path() /
                             ("corvantis-chart-" + std::to_string(getpid()) + ".png");
    EXPECT_EQ(WriteResultsChart(run_, path), "");
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_file(&image, path.c_str())) << image.message;
    EXPECT_EQ(image.width, static_cast<std::uint32_t>(ChartLayout::kWidth));
    image.format = PNG_FORMAT_BGRA;  // 0xAARRGGBB in a little-endian word
    pixels_.resize(PNG_IMAGE_SIZE(image) / 4);
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, pixels_.data(), 0, nullptr));
    std::filesystem::remove(path);
  }

  std::uint32_t At(double x, double y) const {
    const auto index = static_cast<std::size_t>(std::lround(y)) * ChartLayout::kWidth +
                       static_cast<std::size_t>(std::lround(x));
    return pixels_.at(index) & 0xFFFFFF;
  }
  // The middle of a clip's p50-p99 bar (on the log axis).
  std::uint32_t BarColour(std::size_t panel, std::size_t mode, double p50, double p99) const {
    return At(layout_.ModeCenterX(mode), layout_.ValueY(panel, std::sqrt(p50 * p99)));
  }
  double BudgetY(std::size_t panel, std::size_t mode) const {
    return layout_.ValueY(panel, 1000.0 / run_.Series[panel].Matrix[mode].FrameRate());
  }

  RunRecord run_;
  ChartLayout layout_;
  std::vector<std::uint32_t> pixels_;
};

TEST_F(ResultsChartTest, OnePanelPerCodecWithEveryClipInItsVerdictColour) {
  EXPECT_EQ(layout_.Panels, 2u);
  ASSERT_EQ(pixels_.size(), static_cast<std::size_t>(ChartLayout::kWidth * layout_.Height()));
  EXPECT_EQ(layout_.MaxMs, 200.0);  // the first 1-2-5 step above 90 ms and some room

  EXPECT_EQ(BarColour(0, 0, 2, 8), VerdictColour(ClipVerdict::Pass));
  EXPECT_EQ(BarColour(0, 1, 40, 90), VerdictColour(ClipVerdict::Fail));
  // Skipped: an empty box on the budget line; error without measurements: a filled one.
  const double half = layout_.BarHalfWidth();
  EXPECT_EQ(At(layout_.ModeCenterX(2) - half + 1.5, BudgetY(0, 2) - 5),
            VerdictColour(ClipVerdict::Skipped));
  EXPECT_EQ(At(layout_.ModeCenterX(2), BudgetY(0, 2) - 5), 0xFFFFFFu);
  EXPECT_EQ(At(layout_.ModeCenterX(3), BudgetY(0, 3) - 5), VerdictColour(ClipVerdict::Error));
  // A bar between milliseconds: 1.3 to 2.7 ms, neither 1 nor 3.
  EXPECT_EQ(BarColour(1, 0, 1.3, 2.7), VerdictColour(ClipVerdict::Pass));
  for (double outside : {1.0, 3.3})
    EXPECT_NE(At(layout_.ModeCenterX(0), layout_.ValueY(1, outside)),
              VerdictColour(ClipVerdict::Pass))
        << outside;
}

TEST_F(ResultsChartTest, RowsThatNeverRanAndTheSpaceAroundBarsStayFreeOfVerdictColours) {
  const std::uint32_t verdicts[] = {
      VerdictColour(ClipVerdict::Pass), VerdictColour(ClipVerdict::Fail),
      VerdictColour(ClipVerdict::Skipped), VerdictColour(ClipVerdict::Error)};
  // HEVC rows 1..4 never ran; AVC row 4 neither.
  for (const auto& [panel, mode] : {std::pair<std::size_t, std::size_t>{1, 1}, {1, 4}, {0, 4}}) {
    const double x = layout_.ModeCenterX(mode);
    for (double y = layout_.PanelTop(panel) + ChartLayout::kPlotTop + 2;
         y < layout_.PanelTop(panel) + ChartLayout::kPlotBottom - 20; y += 1.0)
      for (std::uint32_t colour : verdicts)
        ASSERT_NE(At(x, y), colour) << panel << " " << mode << " " << y;
  }
  // Above a pass bar's p99 the plot is background or grid.
  const std::uint32_t above = At(layout_.ModeCenterX(0), layout_.ValueY(0, 30.0));
  EXPECT_NE(above, VerdictColour(ClipVerdict::Pass));
}

TEST_F(ResultsChartTest, LatenciesClimbTheAxisUpwards) {
  EXPECT_LT(layout_.ValueY(0, 100.0), layout_.ValueY(0, 10.0));
  EXPECT_GT(layout_.ValueY(1, 1.0), layout_.ValueY(0, 1.0) + ChartLayout::kPanelHeight - 1);
  // Off-scale values stay on the axis.
  EXPECT_DOUBLE_EQ(layout_.ValueY(0, 0.0), layout_.ValueY(0, ChartLayout::kMinMs));
  EXPECT_DOUBLE_EQ(layout_.ValueY(0, 1e9), layout_.ValueY(0, layout_.MaxMs));
}

}  // namespace

}  // namespace corvantis
