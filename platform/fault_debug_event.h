#pragma once
#include <ucontext.h>
#include <csignal>
#include <cstdint>

#include "platform/debug_event.h"

namespace corvantis {

// Bits of the x86-64 page-fault error code, REG_ERR of a fault's context.
inline constexpr std::uint64_t kPageFaultWrite = 1u << 1;
inline constexpr std::uint64_t kPageFaultInstructionFetch = 1u << 4;

// The Windows exception a fault signal stands for: code, flags, the address of the faulting
// instruction and the parameters, by the table in docs/debug-events.md. Async-signal-safe.
EXCEPTION_RECORD64 FaultExceptionRecord(int signal, const siginfo_t& info,
                                        const ucontext_t& context);

// The signal whose FaultExceptionRecord has `code` (SIGSEGV for an access violation, which SIGBUS
// raises too); 0 for a code that no fault signal raises.
int FaultSignalOf(std::uint32_t code);

// Fault observer: raises the fault's exception to an attached debugger, with the address of the
// faulting thread's context; nothing without a debugger.
void RaiseFaultDebugEvent(int signal, siginfo_t* info, ucontext_t* context);

}  // namespace corvantis
