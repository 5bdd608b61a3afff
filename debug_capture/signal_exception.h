#pragma once
#include <signal.h>

#include <cstdint>
#include <optional>

#include "platform/debug_event.h"

// The exception a fault signal stands for, with the codes of the parent's own fault events
// (SIGSEGV and SIGBUS 0xC0000005 with the access type and address, SIGILL, SIGFPE by its
// si_code, SIGABRT 0xC0000409, SIGTRAP 0x80000003); nothing for any other signal.
// `instruction` is the faulting thread's instruction pointer (0 when unknown): a fault at it is
// an execute access; read and write cannot be told apart from outside.
std::optional<EXCEPTION_RECORD64> ExceptionRecordFromSignal(const siginfo_t& info, std::uint64_t instruction);
