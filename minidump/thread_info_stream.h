#pragma once
#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes the thread information list: each thread's creation time and CPU times.
void WriteThreadInfoListStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot);

}  // namespace corvantis::minidump
