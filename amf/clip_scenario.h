#pragma once
#include <cstdint>

namespace corvantis {

// One row of the scenario matrix.
struct ClipScenario {
  std::uint32_t Width;
  std::uint32_t Height;
  std::uint32_t FrameRateNumerator;
  std::uint32_t FrameRateDenominator;
  std::uint32_t DurationSeconds;

  double FrameRate() const {
    return static_cast<double>(FrameRateNumerator) / static_cast<double>(FrameRateDenominator);
  }
  // DurationSeconds * numerator / denominator in unsigned 32-bit arithmetic.
  std::uint32_t FrameCount() const {
    return DurationSeconds * FrameRateNumerator / FrameRateDenominator;
  }
};

}  // namespace corvantis
