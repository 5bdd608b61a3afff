#pragma once
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace corvantis {

// "<directory>/YYYYMMDD-hhmmss-report.json" for a run started at `start` (local time).
std::string DefaultReportPath(const std::string& directory, const LocalDateTime& start);

// The picture beside a report: its ".json" replaced by ".png", or ".png" appended.
std::string ChartPathFor(const std::string& reportPath);

// Empty when a file can be created at `path` (nothing is left behind), else why not.
std::string ProbeWritable(const std::string& path);

// Replaces `path` with `bytes` through a temporary file in the same directory and a rename, so
// that the file is never seen half written. Empty on success, else why it failed (the
// temporary file is removed).
std::string WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace corvantis
