#include "sentry/crash_signal_handler.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "sentry/crash_request.h"

namespace corvantis::sentry {
namespace {

constexpr size_t kSignalCount = std::size(kCrashSignals);
constexpr size_t kAltStackBytes = 64 * 1024;

enum ReportState : int { kIdle, kReporting, kReported };

std::atomic<int> g_socket{-1};
std::atomic<pid_t> g_handlerPid{0};
std::atomic<int> g_state{kIdle};
// Static so that the signal handler needs no stack room for it; only the thread that won
// g_state writes it.
CrashRequest g_request;

struct sigaction g_previous[kSignalCount];
bool g_installed = false;
void* g_altStack = nullptr;
stack_t g_previousAltStack;

int SignalIndex(int signal) {
  for (size_t i = 0; i < kSignalCount; ++i) {
    if (kCrashSignals[i] == signal) return static_cast<int>(i);
  }
  return -1;
}

void SleepMs(long ms) {
  timespec delay{0, ms * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

void OnCrashSignal(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  ReportCrashToHandler(signal, info, static_cast<ucontext_t*>(context));
  // Whatever handled this signal before us (the default action at the end of the chain) gets it
  // next: a fault recurs when the handler returns; a sent or trap signal is sent again.
  const int index = SignalIndex(signal);
  if (index >= 0) sigaction(signal, &g_previous[index], nullptr);
  if (info == nullptr || info->si_code <= 0 || signal == SIGABRT || signal == SIGTRAP) {
    syscall(SYS_tgkill, getpid(), syscall(SYS_gettid), signal);
  }
  errno = savedErrno;
}

}  // namespace

void ReportCrashToHandler(int signal, siginfo_t* info, ucontext_t* context) {
  int expected = kIdle;
  if (!g_state.compare_exchange_strong(expected, kReporting)) {
    // Another thread reports; the process dies when it is done.
    for (int waited = 0; g_state.load() == kReporting && waited < kAcknowledgeTimeoutMs + 2000;
         waited += 10) {
      SleepMs(10);
    }
    return;
  }
  const int socket = g_socket.load();
  if (socket < 0) {
    g_state = kReported;
    return;
  }
  std::memset(&g_request, 0, sizeof g_request);
  g_request.magic = CrashRequest::kMagic;
  g_request.version = CrashRequest::kVersion;
  g_request.pid = static_cast<std::int32_t>(getpid());
  g_request.tid = static_cast<std::int32_t>(syscall(SYS_gettid));
  g_request.signal = signal;
  g_request.contextAddress = reinterpret_cast<std::uintptr_t>(context);
  if (info != nullptr) std::memcpy(&g_request.info, info, sizeof g_request.info);
  if (context != nullptr) {
    std::memcpy(&g_request.context, context, sizeof g_request.context);
    if (context->uc_mcontext.fpregs != nullptr) {
      std::memcpy(&g_request.floatingPoint, context->uc_mcontext.fpregs,
                  sizeof g_request.floatingPoint);
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
  if (sent == static_cast<ssize_t>(sizeof g_request)) {
    pollfd answer{socket, POLLIN, 0};
    int ready;
    do {
      ready = poll(&answer, 1, kAcknowledgeTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    unsigned char ack = 0;
    if (ready > 0) static_cast<void>(recv(socket, &ack, 1, MSG_DONTWAIT));
  }
  g_state = kReported;
}

bool InstallCrashSignalHandler(int socket, pid_t handlerPid) {
  if (g_installed) return false;
  g_socket = socket;
  g_handlerPid = handlerPid;
  g_state = kIdle;

  // A stack overflow leaves no room on the thread's own stack for the handler.
  void* stack = mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (stack != MAP_FAILED) {
    stack_t ours{};
    ours.ss_sp = stack;
    ours.ss_size = kAltStackBytes;
    if (sigaltstack(&ours, &g_previousAltStack) == 0) {
      g_altStack = stack;
    } else {
      munmap(stack, kAltStackBytes);
    }
  }

  struct sigaction action{};
  action.sa_sigaction = OnCrashSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  size_t installed = 0;
  for (; installed < kSignalCount; ++installed) {
    if (sigaction(kCrashSignals[installed], &action, &g_previous[installed]) != 0) break;
  }
  g_installed = true;
  if (installed < kSignalCount) {
    for (size_t i = 0; i < installed; ++i) sigaction(kCrashSignals[i], &g_previous[i], nullptr);
    UninstallCrashSignalHandler();
    return false;
  }
  return true;
}

void UninstallCrashSignalHandler() {
  if (!g_installed) return;
  for (size_t i = 0; i < kSignalCount; ++i) {
    struct sigaction current{};
    // Only ours is put back; a handler installed after ours stays.
    if (sigaction(kCrashSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) &&
        current.sa_sigaction == OnCrashSignal) {
      sigaction(kCrashSignals[i], &g_previous[i], nullptr);
    }
  }
  g_socket = -1;
  if (g_altStack != nullptr) {
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == g_altStack) {
      sigaltstack(&g_previousAltStack, nullptr);
      munmap(g_altStack, kAltStackBytes);
    }
    g_altStack = nullptr;
  }
  g_installed = false;
}

}  // namespace corvantis::sentry
