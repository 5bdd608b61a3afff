#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "amf/clip_scenario.h"
#include "amf/frame_timing.h"
#include "platform/hresult.h"

namespace corvantis {

enum class ClipVerdict { Pass, Fail, Skipped, Error };

// Everything measured of one row of a series; skipped rows carry only their scenario.
struct ClipRecord {
  ClipScenario Scenario{};
  ClipVerdict Verdict = ClipVerdict::Skipped;
  HRESULT ErrorCode = S_OK;  // Error: what ended the series
  std::wstring ErrorMessage;
  std::uint32_t FrameCount = 0;  // N
  double AverageMs = 0.0;        // the described clip average
  double ElapsedSeconds = 0.0;
  double ElapsedRatio = 0.0;  // elapsed / nominal duration
  ClipTiming Timing;
  std::vector<FrameSample> Frames;
  std::wstring StreamPath;  // empty until the clip named its files
  std::wstring SnapshotPath;
};

// One codec's series as far as it ran: its rows in matrix order up to the one that ended it.
struct SeriesRecord {
  std::wstring Label;           // "AVC" or "HEVC"
  std::string RuntimeVersion;   // "%u.%u.%u.%u", empty until the runtime loaded
  std::wstring EncoderLibrary;  // as the runtime reports it; empty when it does not
  std::vector<ClipScenario> Matrix;
  std::vector<ClipRecord> Clips;
  bool Finished = false;  // false while running and when an error ended it
};

// "WxH@rate" with the rate rounded, as the results table writes a mode.
std::wstring ModeText(const ClipScenario& scenario);

// "pass", "fail", "skipped" or "error".
const char* VerdictName(ClipVerdict verdict);

}  // namespace corvantis
