#pragma once
#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes the handle data: one descriptor per open file descriptor, typed "File" and named by
// what the descriptor refers to.
void WriteHandleDataStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot);

}  // namespace corvantis::minidump
