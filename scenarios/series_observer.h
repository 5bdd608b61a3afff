#pragma once
#include <cstdint>

#include "scenarios/series_record.h"

namespace corvantis {

// Consumes what a series measures: console extras, reports and pictures. Called on the series'
// thread; a consumer must not raise.
class SeriesObserver {
 public:
  virtual ~SeriesObserver() = default;
  // The record holds the label and the matrix; nothing has run yet.
  virtual void SeriesStarted(const SeriesRecord& series) = 0;
  virtual void ClipStarted(const SeriesRecord& series, std::size_t row) = 0;
  // Once for every frame drawn, on the pump's thread between submissions: keep it cheap.
  virtual void FrameDrawn(std::uint32_t frameIndex, std::uint32_t frameCount,
                          std::uint32_t windowCount, std::uint32_t latencySum) = 0;
  // The row's record is series.Clips.back() (skipped rows included).
  virtual void ClipEnded(const SeriesRecord& series) = 0;
  // At the last row, or when an error ended the series (its last clip then says why).
  virtual void SeriesEnded(const SeriesRecord& series) = 0;
};

}  // namespace corvantis
