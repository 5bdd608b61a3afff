#pragma once
#include <csignal>
#include <ucontext.h>

#include "platform/debug_event.h"

// The Windows exception a fault signal stands for: code, flags, the address of the faulting
// instruction and the parameters, by the table in docs/debug-events.md. Async-signal-safe.
EXCEPTION_RECORD64 FaultExceptionRecord(int signal, const siginfo_t& info, const ucontext_t& context);

// Fault observer: raises the fault's exception to an attached debugger, with the address of the
// faulting thread's context; nothing without a debugger.
void RaiseFaultDebugEvent(int signal, siginfo_t* info, ucontext_t* context);
