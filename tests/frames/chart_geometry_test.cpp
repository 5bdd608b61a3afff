#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "scenarios/frame_canvas.h"

namespace corvantis {

namespace {

TEST(ChartGeometry, PlacesTextAndChartBySixteenths) {
  const ChartGeometry g = ComputeChartGeometry(640, 360);
  EXPECT_EQ(g.Left, 40.0f);
  EXPECT_EQ(g.TextTop, 22.5f);
  EXPECT_EQ(g.Right, 600.0f);
  EXPECT_EQ(g.Bottom, 337.5f);
  EXPECT_EQ(g.ChartTop, 202.5f);
  EXPECT_EQ(g.Middle, 270.0f);

  const ChartGeometry uhd = ComputeChartGeometry(3840, 2160);
  EXPECT_EQ(uhd.Left, 240.0f);
  EXPECT_EQ(uhd.Right, 3600.0f);
  EXPECT_EQ(uhd.ChartTop, 1215.0f);
  EXPECT_EQ(uhd.Bottom, 2025.0f);

  // Twenty milliseconds span the chart.
  EXPECT_EQ(ChartY(g, 20.0), g.ChartTop);
  EXPECT_EQ(ChartY(g, 10.0), g.Middle);
  EXPECT_EQ(ChartY(g, 0.0), g.Bottom);
  // Not clamped: slow averages plot above the chart and then above the picture.
  EXPECT_EQ(ChartY(g, 40.0), 67.5f);
  EXPECT_LT(ChartY(g, 1000.0), 0.0f);
}

TEST(ChartGeometry, TruncationSaturatesLikeTheProcessor) {
  EXPECT_EQ(TruncToInt32(337.99f), 337);
  EXPECT_EQ(TruncToInt32(-0.75f), 0);
  EXPECT_EQ(TruncToInt32(-5.5f), -5);
  EXPECT_EQ(TruncToInt32(-3.0e9f), INT32_MIN);
  EXPECT_EQ(TruncToInt32(3.0e9f), INT32_MIN);
  EXPECT_EQ(TruncToInt32(std::numeric_limits<float>::quiet_NaN()), INT32_MIN);
}

TEST(ChartPoints, FirstPointSitsAtTheLeftEdgeWhateverTheFrame) {
  const ChartGeometry g = ComputeChartGeometry(640, 360);
  ChartPoints points;
  AddChartPoint(g, 0.0, 500, 1000, points);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].X, 0);
  EXPECT_EQ(points[0].Y, 338);  // trunc(337.5 + 0.5)

  ChartPoints high;
  AddChartPoint(g, 20.0, 0, 1000, high);
  EXPECT_EQ(high[0].Y, 203);
}

TEST(ChartPoints, PointsCloserThanFourPixelsAreDropped) {
  const ChartGeometry g = ComputeChartGeometry(640, 360);
  ChartPoints points;
  AddChartPoint(g, 0.0, 0, 560, points);
  AddChartPoint(g, 5.0, 3, 560, points);  // x = 3
  EXPECT_EQ(points.size(), 1u);
  AddChartPoint(g, 5.0, 4, 560, points);  // x = 4
  ASSERT_EQ(points.size(), 2u);
  EXPECT_EQ(points[1].X, 4);
  EXPECT_EQ(points[1].Y, 304);  // trunc(337.5 - 33.75 + 0.5)
  // A frame sent again after the encoder refused it adds nothing the second time.
  AddChartPoint(g, 9.0, 4, 560, points);
  EXPECT_EQ(points.size(), 2u);
}

TEST(ChartPoints, WholeClipsStayWithinTheChartAndItsSegmentBound) {
  struct Clip {
    std::uint32_t Width, Height, Frames;
  };
  for (const Clip clip : {Clip{640, 360, 7800}, Clip{1920, 1080, 1800}, Clip{3840, 2160, 4320},
                          Clip{3840, 2160, 900}}) {
    SCOPED_TRACE(clip.Width);
    const ChartGeometry g = ComputeChartGeometry(clip.Width, clip.Height);
    ChartPoints points;
    for (std::uint32_t k = 0; k < clip.Frames; ++k) {
      AddChartPoint(g, (k % 50) * 0.5, k, clip.Frames, points);
      AddChartPoint(g, 3.0, k, clip.Frames, points);  // sent again
    }
    for (std::size_t i = 1; i < points.size(); ++i) ASSERT_GE(points[i].X - points[i - 1].X, 4);
    EXPECT_LE(points.back().X, static_cast<std::int32_t>(g.Right - g.Left));
    EXPECT_LE(points.size() - 1, static_cast<std::size_t>((g.Right - g.Left) / 4));
    if (clip.Width == 3840) {
      EXPECT_LE(points.size() - 1, 840u);
    }
  }
}

TEST(ChartPoints, DegenerateInputsAddNoPointOutOfOrder) {
  const ChartGeometry g = ComputeChartGeometry(640, 360);
  ChartPoints points;
  AddChartPoint(g, 1.0e12, 0, 100, points);  // far above the picture
  ASSERT_EQ(points.size(), 1u);
  EXPECT_EQ(points[0].Y, INT32_MIN);
  AddChartPoint(g, 0.0, 5, 0, points);  // no frame count: x is infinite, saturates, is dropped
  EXPECT_EQ(points.size(), 1u);
}

}  // namespace

}  // namespace corvantis
