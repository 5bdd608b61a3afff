#pragma once
#include "debug_capture/minidump/minidump_file_writer.h"
#include "debug_capture/minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes the exception stream: the faulting thread, the record and its context at the exception.
void WriteExceptionStream(MinidumpFileWriter& writer, const ExceptionSnapshot& exception);

}  // namespace corvantis::minidump
