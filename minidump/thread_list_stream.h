#pragma once
#include <vector>

#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"
#include "platform/ptrace_connection.h"

namespace corvantis::minidump {

// Writes the thread list with each thread's context and the stack bytes read from `memory`
// (as many as can be read). Returns the stack ranges written, for the memory list.
std::vector<MINIDUMP_MEMORY_DESCRIPTOR> WriteThreadListStream(MinidumpFileWriter& writer,
                                                              const ProcessSnapshot& snapshot,
                                                              TargetMemory& memory);

}  // namespace corvantis::minidump
