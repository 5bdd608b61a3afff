#pragma once
#include <cstdint>

#include "debug_capture/minidump/byte_sink.h"
#include "platform/ptrace_connection.h"
#include "debug_capture/minidump/process_snapshot.h"

namespace corvantis::minidump {

// Writes a minidump of `snapshot` to `sink`: system information, threads with their stacks,
// the exception when the snapshot has one, modules, the raw Linux streams and the memory list;
// `dumpType` (MINIDUMP_TYPE bits) adds all dumpable memory (0x2), open descriptors as handles
// (0x4), region information (0x800) and thread times (0x1000). Memory is read from `memory` as it
// is written. Raises hresult_error when the sink fails; the header is written last.
void WriteSnapshotAsMinidump(const ProcessSnapshot& snapshot, TargetMemory& memory,
                             std::uint32_t dumpType, ByteSink& sink);

}  // namespace corvantis::minidump
