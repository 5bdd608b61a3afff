#pragma once
#include <sys/types.h>

#include <cstdint>

#include "minidump/byte_sink.h"
#include "minidump/process_snapshot.h"
#include "platform/debug_event.h"
#include "platform/ptrace_connection.h"

namespace corvantis::minidump {

// Writes a minidump of `snapshot` to `sink`: system information, threads with their stacks,
// the exception when the snapshot has one, modules, the raw Linux streams and the memory list;
// `dumpType` (MINIDUMP_TYPE bits) adds all dumpable memory (0x2), open descriptors as handles
// (0x4), region information (0x800) and thread times (0x1000). Memory is read from `memory` as it
// is written. Raises hresult_error when the sink fails; the header is written last.
void WriteSnapshotAsMinidump(const ProcessSnapshot& snapshot, TargetMemory& memory,
                             std::uint32_t dumpType, ByteSink& sink);

// Writes a minidump of the process that `target` holds stopped to `sink`, with the exception of
// `event` on thread `threadId` (0: no exception) when that thread's context at it can be read.
// Whatever fails in that attempt, the sink is cut back and the dump written without the
// exception. Raises hresult_error when that second write fails.
void WriteProcessAsMinidump(PtraceConnection& target, pid_t threadId, const DebugEventData& event,
                            std::uint32_t dumpType, ByteSink& sink);

}  // namespace corvantis::minidump
