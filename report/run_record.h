#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/host_facts.h"
#include "scenarios/series_record.h"

namespace corvantis {

// The adapter a run measured.
struct AdapterFacts {
  std::string Description;
  std::uint32_t VendorId = 0;
  std::uint32_t DeviceId = 0;
  std::uint32_t SubSysId = 0;
  std::uint32_t Revision = 0;
  std::string Driver;  // empty when unknown
};

// What a run was asked to do.
struct RunOptions {
  bool SoftwareAdapter = false;
  std::uint32_t ClipSeconds = 0;  // 0: the matrix's own 30 s
  std::string ReportPath;
};

// Everything a report says: the run's setting and its series as far as they ran.
struct RunRecord {
  std::string ProgramVersion;
  std::string StartUtc;  // ISO 8601, e.g. "2026-12-07T10:22:09Z"
  HostFacts Host;
  AdapterFacts Adapter;
  RunOptions Options;
  std::vector<SeriesRecord> Series;
};

}  // namespace corvantis
