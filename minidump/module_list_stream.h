#pragma once
#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes the module list: name, load range and, where the file has one, a CodeView record
// carrying its GNU build id (the 'BpEL' form that symbol servers and LLDB match on).
void WriteModuleListStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot);

}  // namespace corvantis::minidump
