#include "platform/fault_debug_event.h"

#include <cstdint>

#include "platform/debug_output.h"

namespace corvantis {

namespace {

std::uint32_t FloatingPointCode(int code) {
  switch (code) {
    case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
    case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
    case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
    case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
    case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
    case FPE_FLTINV: return EXCEPTION_FLT_INVALID_OPERATION;
    case FPE_FLTSUB: return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
    default: return EXCEPTION_INT_DIVIDE_BY_ZERO;
  }
}

}  // namespace

EXCEPTION_RECORD64 FaultExceptionRecord(int signal, const siginfo_t& info,
                                        const ucontext_t& context) {
  EXCEPTION_RECORD64 record{};
  const greg_t* registers = context.uc_mcontext.gregs;
  record.ExceptionAddress = static_cast<std::uint64_t>(registers[REG_RIP]);
  const bool fromKernel = info.si_code > 0;
  switch (signal) {
    case SIGSEGV:
    case SIGBUS: {
      record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
      record.NumberParameters = 2;
      if (info.si_code == SI_KERNEL) {
        // A general-protection fault (a non-canonical address): Windows reports it as a read of
        // the address all ones.
        record.ExceptionInformation[1] = ~std::uint64_t{0};
      } else if (fromKernel) {
        const auto error = static_cast<std::uint64_t>(registers[REG_ERR]);
        record.ExceptionInformation[0] = (error & kPageFaultInstructionFetch) ? 8
                                         : (error & kPageFaultWrite)          ? 1
                                                                              : 0;
        record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(info.si_addr);
      }
      break;
    }
    case SIGILL:
      record.ExceptionCode = (info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG)
                                 ? EXCEPTION_PRIV_INSTRUCTION
                                 : EXCEPTION_ILLEGAL_INSTRUCTION;
      break;
    case SIGFPE: record.ExceptionCode = FloatingPointCode(fromKernel ? info.si_code : 0); break;
    case SIGTRAP:
      record.ExceptionCode =
          info.si_code == TRAP_TRACE ? EXCEPTION_SINGLE_STEP : EXCEPTION_BREAKPOINT;
      // int3 reports the instruction after it; Windows reports the int3 itself.
      if (info.si_code == SI_KERNEL) record.ExceptionAddress -= 1;
      if (record.ExceptionCode == EXCEPTION_BREAKPOINT) record.NumberParameters = 1;
      break;
    case SIGABRT:
      record.ExceptionCode = STATUS_STACK_BUFFER_OVERRUN;
      record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
      record.NumberParameters = 1;
      record.ExceptionInformation[0] = FAST_FAIL_FATAL_APP_EXIT;
      break;
    default: break;
  }
  return record;
}

int FaultSignalOf(std::uint32_t code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return SIGSEGV;
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW: return SIGFPE;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: return SIGILL;
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_SINGLE_STEP: return SIGTRAP;
    case STATUS_STACK_BUFFER_OVERRUN: return SIGABRT;
    default: return 0;
  }
}

void RaiseFaultDebugEvent(int signal, siginfo_t* info, ucontext_t* context) {
  if (info == nullptr || context == nullptr || !IsDebuggerPresent()) return;
  DebugEventData event{};
  event.Record = FaultExceptionRecord(signal, *info, *context);
  event.ContextAddress = reinterpret_cast<std::uintptr_t>(context);
  event.Signal = signal;
  RaiseDebugEvent(event);
}

}  // namespace corvantis
