#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "amf/api/result.h"
#include "amf/clip_scenario.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

// A point of the encoding-time chart: x relative to the chart's left edge, y absolute.
struct ChartPoint {
  std::int32_t X;
  std::int32_t Y;
};
using ChartPoints = std::vector<ChartPoint>;

// The overlay of one frame and the moving average it shows (none while the window is empty).
struct OverlayText {
  std::wstring Text;
  std::optional<double> Average;
};

// Chart and text placement for a W x H picture, in single precision.
struct ChartGeometry {
  float Left;
  float Right;
  float TextTop;
  float ChartTop;
  float Bottom;
  float Middle;
};

ChartGeometry ComputeChartGeometry(std::uint32_t width, std::uint32_t height);

// Height of an average in milliseconds: Bottom at 0, ChartTop at 20, not clamped.
float ChartY(const ChartGeometry& geometry, double average);

// Conversion toward zero; values outside the 32-bit range (and NaN) give INT32_MIN, as x86's
// conversion instruction does.
std::int32_t TruncToInt32(float value);

// Adds the frame's point to `points` when the chart is empty or the point lies at least 4 pixels
// right of the last one.
void AddChartPoint(const ChartGeometry& geometry, double average, std::uint32_t frameIndex,
                   std::uint32_t totalFrames, ChartPoints& points);

// Sizes TextureDescription and creates FrameTexture, RenderTarget, the three brushes and
// TextFormat in the session. Throws hresult_error with the first failing HRESULT.
void CreateFrameCanvas(BenchmarkSession& session, std::uint32_t width, std::uint32_t height);

// The overlay lines (AMF version, adapter and mode, frame, and the average when the window holds
// entries), each ending in "\r\n" and at most 127 characters long with that line end.
OverlayText ComposeOverlayText(amf::amf_uint64 amfVersion, const wchar_t* adapterDescription,
                               const ClipScenario& scenario, std::uint32_t frameIndex,
                               std::uint32_t windowCount, std::uint32_t latencySum);

// Draws one frame into FrameTexture and updates `points`. Throws hresult_error when EndDraw fails.
void DrawFrame(BenchmarkSession& session, const std::wstring& text, double average,
               std::uint32_t frameIndex, std::uint32_t totalFrames, ChartPoints& points);

// ComposeOverlayText with the loaded runtime's version and the session's adapter, then DrawFrame.
void RenderFrame(BenchmarkSession& session, amf::amf_uint64 runtimeVersion,
                 const ClipScenario& scenario, std::uint32_t frameIndex, std::uint32_t totalFrames,
                 std::uint32_t windowCount, std::uint32_t latencySum, ChartPoints& points);

// Releases TextFormat, BlackBrush, KhakiBrush, TomatoBrush, RenderTarget and FrameTexture, in
// that order.
void ReleaseFrameCanvas(BenchmarkSession& session);

}  // namespace corvantis
