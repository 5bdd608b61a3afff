#include "platform/fault_signals.h"

#include "platform/signal_stack.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <mutex>

namespace corvantis {

namespace {

constexpr int kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];
constexpr int kMaxObservers = 8;

std::atomic<FaultObserver> g_observers[kMaxObservers];
std::atomic<int> g_observerCount{0};
struct sigaction g_previous[kSignalCount];
std::mutex g_installMutex;
bool g_installed = false;

int IndexOf(int signal) {
  for (int i = 0; i < kSignalCount; ++i)
    if (kFaultSignals[i].Number == signal) return i;
  return -1;
}

// Puts the earlier disposition back and makes sure the fault is delivered to it once this
// handler returns. The re-raised signal stays blocked until then.
void RestoreAndRedeliver(int signal, const siginfo_t* info) {
  const int index = IndexOf(signal);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  if (index < 0 || sigaction(signal, &g_previous[index], nullptr) != 0)
    sigaction(signal, &fallback, nullptr);
  if (!FaultRepeatsOnReturn(signal, info != nullptr ? info->si_code : 0))
    syscall(SYS_tgkill, getpid(), static_cast<pid_t>(syscall(SYS_gettid)), signal);
}

void HandleFault(int signal, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const int count = g_observerCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i)
    if (FaultObserver observer = g_observers[i].load(std::memory_order_acquire))
      observer(signal, info, static_cast<ucontext_t*>(context));
  RestoreAndRedeliver(signal, info);
  errno = savedErrno;
}

void InstallHandler() {
  EnsureFaultSignalStack();
  struct sigaction action {};
  action.sa_sigaction = HandleFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kSignalCount; ++i)
    sigaction(kFaultSignals[i].Number, &action, &g_previous[i]);
}

}  // namespace

bool FaultRepeatsOnReturn(int signal, int code) {
  // Codes above 0 come from the kernel for the instruction that faulted; 0 and below were sent.
  return code > 0 &&
         (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE);
}

bool AddFaultObserver(FaultObserver observer) {
  std::lock_guard lock(g_installMutex);
  const int count = g_observerCount.load(std::memory_order_relaxed);
  if (observer == nullptr || count == kMaxObservers) return false;
  g_observers[count].store(observer, std::memory_order_release);
  g_observerCount.store(count + 1, std::memory_order_release);
  if (!g_installed) {
    InstallHandler();
    g_installed = true;
  }
  return true;
}

}  // namespace corvantis
