#pragma once
#include <sys/ucontext.h>
#include <sys/user.h>

#include <cstdint>

#include "minidump/minidump_format.h"

namespace corvantis::minidump {

// The CONTEXT (all of CONTEXT_ALL) of a stopped thread from its ptrace register sets.
CONTEXT ContextFromRegisters(const user_regs_struct& registers,
                             const user_fpregs_struct& floatingPoint,
                             const std::uint64_t (&debugRegisters)[8]);

// The CONTEXT at a fault from the signal frame's ucontext_t: general registers, flags, CS, FS
// and GS from its gregs; floating point from the FXSAVE image its fpregs pointed at (`fpState`,
// or the thread's own when null); DS, ES, SS and the debug registers, which the frame lacks,
// from `thread`, the thread's current context.
CONTEXT ContextFromSignalFrame(const ucontext_t& frame, const user_fpregs_struct* fpState,
                               const CONTEXT& thread);

}  // namespace corvantis::minidump
