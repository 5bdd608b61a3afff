#include "sentry/crash_signal_handler.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/fault_signals.h"
#include "platform/signal_stack.h"
#include "sentry/crash_request.h"

namespace corvantis::sentry {
namespace {

enum ReportState : int { kIdle, kReporting, kReported };

std::atomic<int> g_socket{-1};
std::atomic<pid_t> g_handlerPid{0};
std::atomic<int> g_state{kIdle};
std::atomic<pid_t> g_reportingThread{0};
// Static so that the signal handler needs no stack room for it; only the thread that won
// g_state writes it.
CrashRequest g_request;

long long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(long ms) {
  timespec delay{0, ms * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

// Waits for the handler's answer until `deadline`, however often a signal interrupts the wait
// or a stop holds the process.
void AwaitAcknowledgement(int socket, long long deadline) {
  pollfd answer{socket, POLLIN, 0};
  for (;;) {
    const long long left = deadline - NowMs();
    if (left <= 0) return;
    const int ready = poll(&answer, 1, static_cast<int>(left));
    if (ready > 0) {
      unsigned char ack = 0;
      static_cast<void>(recv(socket, &ack, 1, MSG_DONTWAIT));
      return;
    }
    if (ready == 0 || errno != EINTR) return;
  }
}

}  // namespace

void ReportCrashToHandler(int signal, siginfo_t* info, ucontext_t* context) {
  const pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
  int expected = kIdle;
  if (!g_state.compare_exchange_strong(expected, kReporting)) {
    // A fault inside our own report: waiting for ourselves would only hold the process, so the
    // signal takes its course at once.
    if (g_reportingThread.load() == thread) return;
    // Another thread reports; the process dies when it is done.
    const long long giveUp = NowMs() + kAcknowledgeTimeoutMs + 2000;
    while (g_state.load() == kReporting && NowMs() < giveUp) SleepMs(10);
    return;
  }
  g_reportingThread = thread;
  const long long deadline = NowMs() + kAcknowledgeTimeoutMs;
  const int socket = g_socket.load();
  if (socket < 0) {
    g_state = kReported;
    return;
  }
  std::memset(&g_request, 0, sizeof g_request);
  g_request.Magic = CrashRequest::kMagic;
  g_request.Version = CrashRequest::kVersion;
  g_request.Pid = static_cast<std::int32_t>(getpid());
  g_request.Tid = static_cast<std::int32_t>(thread);
  g_request.Signal = signal;
  g_request.ContextAddress = reinterpret_cast<std::uintptr_t>(context);
  if (info != nullptr) std::memcpy(&g_request.Info, info, sizeof g_request.Info);
  if (context != nullptr) {
    std::memcpy(&g_request.Context, context, sizeof g_request.Context);
    if (context->uc_mcontext.fpregs != nullptr) {
      std::memcpy(&g_request.FloatingPoint, context->uc_mcontext.fpregs,
                  sizeof g_request.FloatingPoint);
    }
  }
  // Let the handler process trace us even where only ancestors may (Yama), and where the
  // process was made non-dumpable.
  prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
  prctl(PR_SET_PTRACER, static_cast<unsigned long>(g_handlerPid.load()), 0, 0, 0);
  ssize_t sent;
  do {
    sent = send(socket, &g_request, sizeof g_request, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent == static_cast<ssize_t>(sizeof g_request)) AwaitAcknowledgement(socket, deadline);
  g_state = kReported;
}

bool StartHandingCrashesTo(int socket, pid_t handlerPid) {
  // Observers cannot be removed, so one serves every start; it idles while stopped.
  static const bool registered = AddFaultObserver(ReportCrashToHandler);
  if (!registered) return false;
  // A stack overflow leaves no room on the thread's own stack for the handler.
  EnsureFaultSignalStack();
  g_handlerPid = handlerPid;
  g_state = kIdle;
  g_socket = socket;
  return true;
}

void StopHandingCrashes() { g_socket = -1; }

}  // namespace corvantis::sentry
