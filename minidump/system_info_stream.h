#pragma once
#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes the system information: x86-64, the CPU's identification, Linux and its version text.
void WriteSystemInfoStream(MinidumpFileWriter& writer, const SystemSnapshot& system);

}  // namespace corvantis::minidump
