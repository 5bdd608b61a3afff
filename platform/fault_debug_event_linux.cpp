#include "platform/fault_debug_event.h"

#include <cstdint>

#include "platform/debug_output.h"

namespace {

constexpr std::uint32_t kAccessViolation = 0xC0000005;
constexpr std::uint32_t kIllegalInstruction = 0xC000001D;
constexpr std::uint32_t kPrivilegedInstruction = 0xC0000096;
constexpr std::uint32_t kIntegerDivideByZero = 0xC0000094;
constexpr std::uint32_t kIntegerOverflow = 0xC0000095;
constexpr std::uint32_t kFloatDivideByZero = 0xC000008E;
constexpr std::uint32_t kFloatInexactResult = 0xC000008F;
constexpr std::uint32_t kFloatInvalidOperation = 0xC0000090;
constexpr std::uint32_t kFloatOverflow = 0xC0000091;
constexpr std::uint32_t kFloatUnderflow = 0xC0000093;
constexpr std::uint32_t kArrayBoundsExceeded = 0xC000008C;
constexpr std::uint32_t kBreakpoint = 0x80000003;
constexpr std::uint32_t kSingleStep = 0x80000004;
constexpr std::uint32_t kFailFast = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN, raised by abort()
constexpr std::uint64_t kFailFastFatalAppExit = 7;
constexpr std::uint32_t kNonContinuable = 1;

// Bits of the x86-64 page-fault error code.
constexpr std::uint64_t kPageFaultWrite = 1u << 1;
constexpr std::uint64_t kPageFaultInstructionFetch = 1u << 4;

std::uint32_t FloatingPointCode(int code) {
  switch (code) {
    case FPE_INTDIV: return kIntegerDivideByZero;
    case FPE_INTOVF: return kIntegerOverflow;
    case FPE_FLTDIV: return kFloatDivideByZero;
    case FPE_FLTOVF: return kFloatOverflow;
    case FPE_FLTUND: return kFloatUnderflow;
    case FPE_FLTRES: return kFloatInexactResult;
    case FPE_FLTINV: return kFloatInvalidOperation;
    case FPE_FLTSUB: return kArrayBoundsExceeded;
    default: return kIntegerDivideByZero;
  }
}

}  // namespace

EXCEPTION_RECORD64 FaultExceptionRecord(int signal, const siginfo_t& info, const ucontext_t& context) {
  EXCEPTION_RECORD64 record{};
  const greg_t* registers = context.uc_mcontext.gregs;
  record.ExceptionAddress = static_cast<std::uint64_t>(registers[REG_RIP]);
  const bool fromKernel = info.si_code > 0;
  switch (signal) {
    case SIGSEGV:
    case SIGBUS: {
      record.ExceptionCode = kAccessViolation;
      record.NumberParameters = 2;
      if (info.si_code == SI_KERNEL) {
        // A general-protection fault (a non-canonical address): Windows reports it as a read of
        // the address all ones.
        record.ExceptionInformation[1] = ~std::uint64_t{0};
      } else if (fromKernel) {
        const auto error = static_cast<std::uint64_t>(registers[REG_ERR]);
        record.ExceptionInformation[0] = (error & kPageFaultInstructionFetch) ? 8 : (error & kPageFaultWrite) ? 1 : 0;
        record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(info.si_addr);
      }
      break;
    }
    case SIGILL:
      record.ExceptionCode =
          (info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG) ? kPrivilegedInstruction : kIllegalInstruction;
      break;
    case SIGFPE:
      record.ExceptionCode = FloatingPointCode(fromKernel ? info.si_code : 0);
      break;
    case SIGTRAP:
      record.ExceptionCode = info.si_code == TRAP_TRACE ? kSingleStep : kBreakpoint;
      // int3 reports the instruction after it; Windows reports the int3 itself.
      if (info.si_code == SI_KERNEL) record.ExceptionAddress -= 1;
      if (record.ExceptionCode == kBreakpoint) record.NumberParameters = 1;
      break;
    case SIGABRT:
      record.ExceptionCode = kFailFast;
      record.ExceptionFlags = kNonContinuable;
      record.NumberParameters = 1;
      record.ExceptionInformation[0] = kFailFastFatalAppExit;
      break;
    default:
      break;
  }
  return record;
}

void RaiseFaultDebugEvent(int signal, siginfo_t* info, ucontext_t* context) {
  if (info == nullptr || context == nullptr || !IsDebuggerPresent()) return;
  DebugEventData event{};
  event.Record = FaultExceptionRecord(signal, *info, *context);
  event.ContextAddress = reinterpret_cast<std::uintptr_t>(context);
  event.Signal = signal;
  RaiseDebugEvent(event);
}
