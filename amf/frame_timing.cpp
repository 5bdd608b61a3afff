#include "amf/frame_timing.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "amf/encode_pump.h"

namespace corvantis {

std::int32_t NearestRank(std::span<const std::int32_t> ascending, double percent) {
  if (ascending.empty()) return 0;
  const double rank = std::ceil(percent / 100.0 * static_cast<double>(ascending.size()));
  const auto index =
      static_cast<std::size_t>(std::clamp(rank, 1.0, static_cast<double>(ascending.size())));
  return ascending[index - 1];
}

namespace {

LatencyPercentiles Percentiles(std::vector<std::int32_t> latencies) {
  LatencyPercentiles p;
  if (latencies.empty()) return p;
  std::sort(latencies.begin(), latencies.end());
  p.P50 = NearestRank(latencies, 50.0);
  p.P95 = NearestRank(latencies, 95.0);
  p.P99 = NearestRank(latencies, 99.0);
  p.Max = latencies.back();
  return p;
}

}  // namespace

ClipTiming SummariseFrames(std::span<const FrameSample> samples, const ClipScenario& scenario,
                           std::uint64_t streamBytes) {
  ClipTiming t;
  std::vector<std::int32_t> latencies;
  latencies.reserve(samples.size());
  for (const FrameSample& s : samples)
    if (s.LatencyUs >= 0) latencies.push_back(s.LatencyUs);
  t.Frames = static_cast<std::uint32_t>(latencies.size());
  const std::size_t half = latencies.size() / 2;
  t.LaterHalf =
      Percentiles({latencies.begin() + static_cast<std::ptrdiff_t>(half), latencies.end()});
  t.All = Percentiles(std::move(latencies));

  std::uint32_t run = 0;
  std::uint64_t inFlightSum = 0;
  for (const FrameSample& s : samples) {
    if (s.LatenessUs > kLateThresholdUs) {
      ++t.LateFrames;
      t.LongestLateRun = std::max(t.LongestLateRun, ++run);
    } else {
      run = 0;
    }
    t.MaxLatenessUs =
        std::max(t.MaxLatenessUs, static_cast<std::uint32_t>(std::max(s.LatenessUs, 0)));
    inFlightSum += s.InFlight;
    t.InFlightMax = std::max<std::uint32_t>(t.InFlightMax, s.InFlight);
  }
  if (!samples.empty())
    t.InFlightMean = static_cast<double>(inFlightSum) / static_cast<double>(samples.size());

  // Submission times (us after the start) follow from the schedule and each frame's lateness.
  if (samples.size() >= 2) {
    const auto last = static_cast<std::uint32_t>(samples.size() - 1);
    const std::int64_t first = samples.front().LatenessUs;
    const std::int64_t end =
        std::int64_t{FrameDueOffset(last, scenario)} * 1000 + samples.back().LatenessUs;
    if (end > first)
      t.InputFrameRate = static_cast<double>(last) * 1e6 / static_cast<double>(end - first);
  }

  t.StreamBytes = streamBytes;
  const std::uint32_t frames = scenario.FrameCount();
  if (frames != 0 && scenario.FrameRateNumerator != 0) {
    const double seconds = static_cast<double>(frames) * scenario.FrameRateDenominator /
                           static_cast<double>(scenario.FrameRateNumerator);
    t.BitRate = static_cast<double>(streamBytes) * 8.0 / seconds;
  }
  return t;
}

}  // namespace corvantis
