#pragma once
#include <cstdint>
#include <functional>
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

// The drivers and libraries under the encoders, as a normal user can read them; empty text where
// a fact is unknown (the software adapter has no VA or kernel driver).
struct DriverStack {
  std::string VaDriver;  // "radeonsi"
  std::string VaDriverPath;
  std::string VaVendor;  // vaQueryVendorString: Mesa's carries its version
  std::string Libva, Libavcodec, Libx264, Libx265;
  std::string KernelDriver, KernelModuleVersion;
  std::string VbiosVersion;
  std::vector<std::pair<std::string, std::string>> Firmware;  // name, version
};

// What a run was asked to do.
struct RunOptions {
  std::string Adapter = "AMD";    // "Software", "AMD" (the first AMD adapter) or the chosen node
  std::uint32_t ClipSeconds = 0;  // 0: the matrix's own 30 s
  std::string ReportPath;
};

// Everything a report says: the run's setting and its series as far as they ran.
struct RunRecord {
  std::string ProgramVersion;
  std::string StartUtc;  // ISO 8601, e.g. "2026-12-07T10:22:09Z"
  HostFacts Host;
  AdapterFacts Adapter;
  DriverStack Stack;
  // Fills what the stack learns only once the encoder runtime is loaded (its libraries).
  std::function<void(DriverStack&)> CompleteStack;
  RunOptions Options;
  std::vector<SeriesRecord> Series;
};

}  // namespace corvantis
