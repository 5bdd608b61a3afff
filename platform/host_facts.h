#pragma once
#include <cstdint>
#include <string>

namespace corvantis {

// What a report says about the machine; empty text and 0 mean unknown.
struct HostFacts {
  std::string CpuModel;
  std::uint32_t LogicalCores = 0;
  std::uint64_t MemoryBytes = 0;
  std::string Kernel;        // system name and release, e.g. "Linux 6.1.0-18-amd64"
  std::string Distribution;  // e.g. "Debian GNU/Linux 12 (bookworm)"
};

// Reads the facts from /proc, uname and os-release below `root` ("/" on a real system).
HostFacts ReadHostFacts(const std::string& root = "/");

}  // namespace corvantis
