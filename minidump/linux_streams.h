#pragma once
#include <span>

#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes each raw stream (maps, status, auxv, cmdline, environ, cpuinfo, lsb-release) as the
// bytes read from its file, under its own stream type.
void WriteRawStreams(MinidumpFileWriter& writer, std::span<const RawStream> streams);

}  // namespace corvantis::minidump
