#include "debug_capture/signal_exception.h"

#include <ucontext.h>

#include "platform/fault_debug_event.h"
#include "platform/fault_signals.h"

namespace corvantis {

std::optional<DebugEventData> ExceptionFromSignal(const siginfo_t& info,
                                                  std::uint64_t instruction) {
  if (!IsFaultSignal(info.si_signo)) return std::nullopt;
  // The registers as the parent's own handler would see them; the page-fault error code is not
  // visible from outside, so only an execute access (the address is the instruction) is told.
  ucontext_t context{};
  context.uc_mcontext.gregs[REG_RIP] = static_cast<greg_t>(instruction);
  const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(info.si_addr));
  if (instruction != 0 && address == instruction)
    context.uc_mcontext.gregs[REG_ERR] = static_cast<greg_t>(kPageFaultInstructionFetch);
  DebugEventData event{};
  event.Record = FaultExceptionRecord(info.si_signo, info, context);
  event.Signal = info.si_signo;
  return event;
}

}  // namespace corvantis
