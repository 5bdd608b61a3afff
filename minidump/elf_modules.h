#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "minidump/process_snapshot.h"
#include "platform/ptrace_connection.h"

namespace corvantis::minidump {

// The GNU build id of the 64-bit ELF image whose header is mapped at `base`, read from its
// PT_NOTE segments in memory; empty when it has none or the memory cannot be read.
std::vector<std::uint8_t> ReadElfBuildId(TargetMemory& memory, std::uint64_t base);

// The ELF files mapped into the process: one module per file mapping at offset 0 that starts
// with an ELF header, spanning the file's following mappings.
std::vector<ModuleSnapshot> FindModules(std::span<const MemoryMapping> mappings,
                                        TargetMemory& memory);

}  // namespace corvantis::minidump
