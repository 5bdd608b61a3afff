#pragma once
#include <cstdint>
#include <span>

#include "amf/clip_scenario.h"

namespace corvantis {

// What the pump keeps of one accepted frame; 16 bytes, so a 4320-frame clip keeps 68 KiB.
struct FrameSample {
  std::int32_t LatencyMs = -1;  // submission to output in the pacing clock's whole ms; -1 until
                                // the output arrived (the window and clip average use these)
  std::int32_t LatencyUs = -1;  // the same two moments at the clock's resolution
  std::int32_t LatenessUs = 0;  // submission after its due ms counted from the start's
                                // high-resolution reading; negative when earlier than that
  std::uint8_t InFlight = 0;    // frames inside the encoder right after this one was accepted
  std::uint8_t Reserved[3] = {};
};
static_assert(sizeof(FrameSample) == 16);

// Nearest-rank percentiles of latencies in us; all 0 without frames.
struct LatencyPercentiles {
  std::int32_t P50 = 0;
  std::int32_t P95 = 0;
  std::int32_t P99 = 0;
  std::int32_t Max = 0;
};

// A submission later than this many us counts as late.
inline constexpr std::int32_t kLateThresholdUs = 1000;

// How a clip's frames went, beside its average and elapsed time.
struct ClipTiming {
  std::uint32_t Frames = 0;  // frames with an output
  LatencyPercentiles All;
  LatencyPercentiles LaterHalf;  // frames n/2 .. n-1, as the clip average counts them
  std::uint32_t LateFrames = 0;  // submitted more than kLateThresholdUs after their due time
  std::uint32_t MaxLatenessUs = 0;
  std::uint32_t LongestLateRun = 0;  // consecutive late frames
  double InFlightMean = 0.0;
  std::uint32_t InFlightMax = 0;
  double InputFrameRate = 0.0;  // frames per second between the first and last submission
  std::uint64_t StreamBytes = 0;
  double BitRate = 0.0;  // stream bits per second of nominal clip duration
};

// Summarises a clip's samples (in submission order) and the size of its stream. Samples without
// an output count only for lateness, frames in flight and the input rate.
ClipTiming SummariseFrames(std::span<const FrameSample> samples, const ClipScenario& scenario,
                           std::uint64_t streamBytes);

// The value at rank ceil(p/100 * n) of the ascending list; 0 for an empty list.
std::int32_t NearestRank(std::span<const std::int32_t> ascending, double percent);

}  // namespace corvantis
