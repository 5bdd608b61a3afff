#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/ucontext.h>

namespace corvantis::sentry {

// From now on, fault signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP) are handed to the
// handler process over `socket` (a connected SOCK_SEQPACKET end), and the faulting thread waits for
// its acknowledgement before the signal takes its course. Registers with the process's one
// fault-signal handler (which gives the calling thread an alternate stack). Not thread-safe against
// itself or Stop. False when the observer could not be registered.
bool StartHandingCrashesTo(int socket, pid_t handlerPid);
// No request is sent after it returns.
void StopHandingCrashes();

// The fault observer; async-signal-safe: hands the crash over (once per process; a second
// crashing thread waits for the first) and returns. Does nothing when not started.
void ReportCrashToHandler(int signal, siginfo_t* info, ucontext_t* context);

}  // namespace corvantis::sentry
