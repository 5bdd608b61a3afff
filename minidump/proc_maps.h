#pragma once
#include <string_view>
#include <vector>

#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// The mappings of /proc/PID/maps text, in file order. Malformed lines are skipped.
std::vector<MemoryMapping> ParseProcMaps(std::string_view text);

// The mapping that holds `address`, or null.
const MemoryMapping* FindMapping(const std::vector<MemoryMapping>& mappings, std::uint64_t address);

}  // namespace corvantis::minidump
