#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/ucontext.h>

namespace corvantis::sentry {

// The fatal signals a crash handler catches.
inline constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP};

// How long the crashing thread waits for the handler process to take its dump.
inline constexpr int kAcknowledgeTimeoutMs = 8000;

// Sends crashes to a handler process over `socket` (a connected SOCK_SEQPACKET end) and waits for
// its acknowledgement. Installs one SA_ONSTACK handler for kCrashSignals with an alternate stack
// for the calling thread, the previous handlers being kept. Not thread-safe against itself.
// False when the handlers could not be installed.
bool InstallCrashSignalHandler(int socket, pid_t handlerPid);
// Restores the handlers and stack that Install replaced; no request is sent after it returns.
void UninstallCrashSignalHandler();

// The part that runs on a fatal signal; async-signal-safe: hands the crash over (once per
// process; a second crashing thread waits for the first) and returns.
void ReportCrashToHandler(int signal, siginfo_t* info, ucontext_t* context);

}  // namespace corvantis::sentry
