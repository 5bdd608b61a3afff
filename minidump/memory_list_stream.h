#pragma once
#include <span>
#include <vector>

#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"
#include "platform/ptrace_connection.h"

namespace corvantis::minidump {

// Writes the memory list over ranges already in the file (the thread stacks).
void WriteMemoryListStream(MinidumpFileWriter& writer,
                           std::span<const MINIDUMP_MEMORY_DESCRIPTOR> ranges);

// True for a mapping whose bytes belong in a full-memory dump: readable, and neither a device
// (reading one may have side effects or hang) nor the kernel's [vvar] and [vsyscall] pages.
bool IsDumpableMapping(const MemoryMapping& mapping);

// Writes the 64-bit memory list with the bytes of every dumpable mapping, read from `memory`;
// a mapping that reads short keeps the bytes read, one that reads nothing is left out. Must be
// the last data of the file (its bytes may lie beyond 4 GiB).
void WriteMemory64ListStream(MinidumpFileWriter& writer, std::span<const MemoryMapping> mappings,
                             TargetMemory& memory);

}  // namespace corvantis::minidump
