#pragma once
#include <nlohmann/json.hpp>

#include "report/run_record.h"

namespace corvantis {

// Version of the report's layout; raised when a member changes meaning or goes away.
inline constexpr int kReportSchemaVersion = 3;

// The whole report: setting, then per series the codec and every row in matrix order with its
// verdict, measurements, per-frame latencies and file names. Latencies, their percentiles and
// lateness are in us (the clock's resolution); "frame_latencies_ms" keeps the whole-ms latencies
// of which "average_ms" is made. Version 1 had only those, and percentiles in ms.
nlohmann::json ReportJson(const RunRecord& run);

}  // namespace corvantis
