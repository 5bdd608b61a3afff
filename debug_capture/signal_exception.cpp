#include "debug_capture/signal_exception.h"

namespace {

std::uint32_t FloatingPointCode(int code) {
  switch (code) {
    case FPE_INTDIV: return 0xC0000094;  // integer divide by zero
    case FPE_INTOVF: return 0xC0000095;  // integer overflow
    case FPE_FLTDIV: return 0xC000008E;  // float divide by zero
    case FPE_FLTOVF: return 0xC0000091;
    case FPE_FLTUND: return 0xC0000093;
    case FPE_FLTRES: return 0xC000008F;  // inexact result
    case FPE_FLTSUB: return 0xC000008C;  // array bounds exceeded
    case FPE_FLTINV: return 0xC0000090;  // invalid operation
    default: return 0xC0000094;          // sent, or a cause without a code of its own
  }
}

}  // namespace

std::optional<EXCEPTION_RECORD64> ExceptionRecordFromSignal(const siginfo_t& info, std::uint64_t instruction) {
  EXCEPTION_RECORD64 record{};
  record.ExceptionAddress = instruction;
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(info.si_addr));
  switch (info.si_signo) {
    case SIGSEGV:
    case SIGBUS:
      record.ExceptionCode = 0xC0000005;
      record.NumberParameters = 2;
      if (info.si_code == SI_KERNEL) {
        record.ExceptionInformation[1] = ~std::uint64_t{0};  // general protection: no address
      } else if (info.si_code > 0) {
        // Read and write look alike from outside; a fault at the instruction itself is execution.
        record.ExceptionInformation[0] = (instruction != 0 && address == instruction) ? 8 : 0;
        record.ExceptionInformation[1] = address;
      }
      break;
    case SIGILL:
      record.ExceptionCode = (info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG) ? 0xC0000096 : 0xC000001D;
      break;
    case SIGFPE:
      record.ExceptionCode = FloatingPointCode(info.si_code);
      break;
    case SIGABRT:
      record.ExceptionCode = 0xC0000409;
      record.ExceptionFlags = 1;  // not continuable
      record.NumberParameters = 1;
      record.ExceptionInformation[0] = 7;  // the fail-fast code of abort()
      break;
    case SIGTRAP:
      record.ExceptionCode = 0x80000003;
      break;
    default:
      return std::nullopt;
  }
  return record;
}
