#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "amf/clip_scenario.h"
#include "platform/clock.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

inline constexpr std::size_t kMaxPathChars = 259;

// "<directory>/YYYYMMDD-hhmmss-WxH@rate<extension>" (the rate without decimals). Raises
// ERROR_FILENAME_EXCED_RANGE when the path is longer than 259 characters.
std::wstring BuildClipPath(const std::wstring& directory, const LocalDateTime& now,
                           const ClipScenario& scenario, const wchar_t* extension);

// The stream path with ".png" appended.
std::wstring SnapshotPath(const std::wstring& clipPath);

// Writes the slot texture's picture as a PNG of its size next to the stream (replacing a file of
// that name). Raises on any failure.
void WriteLastFrameSnapshot(BenchmarkSession& session, ID3D11Texture2D* slotTexture,
                            const std::wstring& clipPath);

// Creates the stream file (never over an existing one) and writes the chunks in order, nothing
// added. Raises the failing call's error; a file it created but could not finish is removed.
void WriteClipStream(const std::wstring& clipPath,
                     const std::vector<std::shared_ptr<std::vector<std::uint8_t>>>& chunks);

}  // namespace corvantis
