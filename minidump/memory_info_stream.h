#pragma once
#include <span>

#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Windows protection constant for a mapping's permissions (PAGE_NOACCESS when unreadable).
std::uint32_t PageProtection(const MemoryMapping& mapping);

// Writes the memory information list: one committed region per mapping, its protection, and
// its type (image for mapped ELF files that are modules, mapped for other files, private else).
void WriteMemoryInfoListStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot);

}  // namespace corvantis::minidump
