#pragma once
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace corvantis {

// "<directory>/YYYYMMDD-hhmmss-report.json" for a run started at `start` (local time).
std::string DefaultReportPath(const std::string& directory, const LocalDateTime& start);

// The picture beside a report: its ".json" replaced by ".png", or ".png" appended.
std::string ChartPathFor(const std::string& reportPath);

// Empty when a file can be created at `path` (nothing is left behind), else why not: also when
// the name holds anything but a regular file of this user (a link, a folder, a neighbour's file).
std::string ProbeWritable(const std::string& path);

// Replaces `path` (0644) with `bytes` through a new file made aside and renamed over it, so that
// the file is never seen half written and nothing but our own earlier file is ever replaced.
// Empty on success, else why it failed (the temporary file is removed).
std::string WriteFileAtomically(const std::string& path, std::string_view bytes);

}  // namespace corvantis
