#pragma once
#include <nlohmann/json.hpp>

#include "report/run_record.h"

// Version of the report's layout; raised when a member changes meaning or goes away.
inline constexpr int kReportSchemaVersion = 1;

// The whole report: setting, then per series the codec and every row in matrix order with its
// verdict, measurements, per-frame latencies and file names.
nlohmann::json ReportJson(const RunRecord& run);
