#pragma once
#include <sys/types.h>

#include <optional>

#include "minidump/process_snapshot.h"
#include "platform/debug_event.h"
#include "platform/ptrace_connection.h"

namespace corvantis::minidump {

// Gathers the snapshot of the process that `target` holds stopped: every thread whose registers
// can be read, with its stack range; the mappings and the ELF modules with their build ids; the
// /proc streams and the machine's description. What cannot be read is left out; never raises.
ProcessSnapshot ReadProcessSnapshot(PtraceConnection& target);

// The context of thread `threadId` at `event`: the registers saved in the signal frame at
// event.ContextAddress for a fault (the thread itself now sits in the signal handler), else the
// thread's registers. Nothing when they cannot be read.
std::optional<CONTEXT> ReadExceptionContext(PtraceConnection& target, pid_t threadId,
                                            const DebugEventData& event);

// Enters the exception (and the signal it came as, 0 when unknown) in the snapshot; its thread is
// listed with the exception's context and the stack around that context's stack pointer, as a
// debugger unwinds from the fault.
void SetException(ProcessSnapshot& snapshot, pid_t threadId, const EXCEPTION_RECORD64& record,
                  const CONTEXT& context, int signal = 0);

}  // namespace corvantis::minidump
