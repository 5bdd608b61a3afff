#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/fault_debug_event.h"

namespace corvantis {

namespace {

struct FaultCase {
  int Signal;
  int Code;
  std::uint64_t PageFaultError;
  std::uint64_t Address;
  std::uint32_t ExceptionCode;
  std::vector<std::uint64_t> Parameters;
  std::uint64_t ReportedRip;  // with the context's RIP at 0x1000
};

EXCEPTION_RECORD64 Map(const FaultCase& fault) {
  siginfo_t info{};
  info.si_signo = fault.Signal;
  info.si_code = fault.Code;
  if (fault.Code > 0) info.si_addr = reinterpret_cast<void*>(fault.Address);
  ucontext_t context{};
  context.uc_mcontext.gregs[REG_RIP] = 0x1000;
  context.uc_mcontext.gregs[REG_ERR] = static_cast<greg_t>(fault.PageFaultError);
  return FaultExceptionRecord(fault.Signal, info, context);
}

TEST(FaultExceptionRecord, EachSignalAndCauseGivesTheWindowsExceptionAndItsParameters) {
  const std::uint64_t all = ~std::uint64_t{0};
  const FaultCase cases[] = {
      {SIGSEGV, SEGV_MAPERR, 0x4, 0x10, 0xC0000005, {0, 0x10}, 0x1000},   // user-mode read
      {SIGSEGV, SEGV_ACCERR, 0x7, 0x20, 0xC0000005, {1, 0x20}, 0x1000},   // write
      {SIGSEGV, SEGV_ACCERR, 0x15, 0x30, 0xC0000005, {8, 0x30}, 0x1000},  // instruction fetch
      {SIGSEGV, SI_KERNEL, 0, 0, 0xC0000005, {0, all}, 0x1000},           // general protection
      {SIGSEGV, SI_USER, 0x6, 0, 0xC0000005, {0, 0}, 0x1000},             // sent, not a fault
      {SIGBUS, BUS_ADRERR, 0x6, 0x40, 0xC0000005, {1, 0x40}, 0x1000},
      {SIGFPE, FPE_INTDIV, 0, 0, 0xC0000094, {}, 0x1000},
      {SIGFPE, FPE_INTOVF, 0, 0, 0xC0000095, {}, 0x1000},
      {SIGFPE, FPE_FLTDIV, 0, 0, 0xC000008E, {}, 0x1000},
      {SIGFPE, FPE_FLTINV, 0, 0, 0xC0000090, {}, 0x1000},
      {SIGFPE, FPE_FLTOVF, 0, 0, 0xC0000091, {}, 0x1000},
      {SIGFPE, FPE_FLTUND, 0, 0, 0xC0000093, {}, 0x1000},
      {SIGFPE, FPE_FLTRES, 0, 0, 0xC000008F, {}, 0x1000},
      {SIGFPE, SI_USER, 0, 0, 0xC0000094, {}, 0x1000},
      {SIGILL, ILL_ILLOPN, 0, 0, 0xC000001D, {}, 0x1000},
      {SIGILL, ILL_PRVOPC, 0, 0, 0xC0000096, {}, 0x1000},
      {SIGTRAP, SI_KERNEL, 0, 0, 0x80000003, {0}, 0x0FFF},  // int3: the instruction itself
      {SIGTRAP, TRAP_TRACE, 0, 0, 0x80000004, {}, 0x1000},
      {SIGABRT, SI_TKILL, 0, 0, 0xC0000409, {7}, 0x1000},
  };
  for (const FaultCase& fault : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << fault.Signal << " code " << fault.Code);
    const EXCEPTION_RECORD64 record = Map(fault);
    EXPECT_EQ(record.ExceptionCode, fault.ExceptionCode);
    EXPECT_EQ(record.ExceptionAddress, fault.ReportedRip);
    EXPECT_EQ(record.ExceptionFlags, fault.Signal == SIGABRT ? 1u : 0u);
    ASSERT_EQ(record.NumberParameters, fault.Parameters.size());
    for (std::size_t i = 0; i < fault.Parameters.size(); ++i)
      EXPECT_EQ(record.ExceptionInformation[i], fault.Parameters[i]) << "parameter " << i;
  }
}

}  // namespace

}  // namespace corvantis
