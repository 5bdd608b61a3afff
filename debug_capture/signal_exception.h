#pragma once
#include <signal.h>

#include <cstdint>
#include <optional>

#include "platform/debug_event.h"

namespace corvantis {

// The exception a fault signal stands for, as the parent's own fault event would carry it
// (FaultExceptionRecord), with the signal and without a context address; nothing for a signal
// that is no fault. `instruction` is the faulting thread's instruction pointer (0 when unknown):
// a fault at it is an execute access; read and write cannot be told apart from outside.
std::optional<DebugEventData> ExceptionFromSignal(const siginfo_t& info, std::uint64_t instruction);

}  // namespace corvantis
