#pragma once
#include <ucontext.h>
#include <csignal>

namespace corvantis {

struct FaultSignal {
  int Number;
  const char* Name;
  const char* Description;
};

// The signals that stand for a Windows exception (FaultExceptionRecord), as crash reports name
// them.
inline constexpr FaultSignal kFaultSignals[] = {
    {SIGSEGV, "SIGSEGV", "Segmentation fault"},
    {SIGBUS, "SIGBUS", "Bus error"},
    {SIGILL, "SIGILL", "Illegal instruction"},
    {SIGFPE, "SIGFPE", "Floating-point exception"},
    {SIGABRT, "SIGABRT", "Aborted"},
    {SIGTRAP, "SIGTRAP", "Trace/breakpoint trap"},
};

constexpr bool IsFaultSignal(int signal) {
  for (const FaultSignal& fault : kFaultSignals)
    if (fault.Number == signal) return true;
  return false;
}

// Called in the handler of a fault signal (kFaultSignals) on the faulting thread, with the thread's
// context at the fault. Must be async-signal-safe.
using FaultObserver = void (*)(int signal, siginfo_t* info, ucontext_t* context);

// Adds an observer, called in order of addition; the first call installs one handler for the six
// signals (on the alternate stack where the thread has one). After the observers the signal's
// earlier disposition is restored and the fault delivered again, so the process ends, or goes on,
// exactly as it would have without the handler. False when the table (8 observers) is full.
bool AddFaultObserver(FaultObserver observer);

// True when returning from the handler runs the faulting instruction again, so that the fault
// repeats by itself; a sent signal or a trap (which has already advanced past its instruction)
// must be raised again instead.
bool FaultRepeatsOnReturn(int signal, int code);

}  // namespace corvantis
