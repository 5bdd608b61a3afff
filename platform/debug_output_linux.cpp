#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/debug_event.h"
#include "platform/debug_output.h"
#include "platform/utf.h"

namespace corvantis {

namespace {

constexpr std::int64_t kNoTracerReuseNs = 20'000'000;

// CLOCK_MONOTONIC_COARSE time until which the last "no tracer" answer holds; 0 when none does.
std::atomic<std::int64_t> g_noTracerUntil{0};

std::int64_t CoarseNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// A forked child has its own tracer (usually none, but its parent's answer is not its own).
const int g_forgetAfterFork = pthread_atfork(nullptr, nullptr, [] { g_noTracerUntil.store(0); });

// Ignored, so that a tracer detaching between the check and the signal cannot end the process;
// a tracer still sees an ignored signal. Plain sigaction: also called from fault handlers.
void IgnoreDebugEventSignal() {
  static std::atomic<bool> ignored{false};
  if (ignored.load(std::memory_order_acquire)) return;
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(DebugEventSignal(), &action, nullptr);
  ignored.store(true, std::memory_order_release);
}

}  // namespace

pid_t TracerPid(pid_t pid) {
  // The path and the number are made by hand, without allocating, so that this is safe anywhere.
  char path[32] = "/proc/self/status";
  if (pid > 0) {
    char digits[12];
    int count = 0;
    for (pid_t rest = pid; rest > 0; rest /= 10)
      digits[count++] = static_cast<char>('0' + rest % 10);
    char* at = path + 6;
    while (count > 0) *at++ = digits[--count];
    std::memcpy(at, "/status", sizeof "/status");
  }
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return 0;
  buffer[n] = '\0';
  const char* line = std::strstr(buffer, "TracerPid:");
  if (line == nullptr) return 0;
  line += 10;
  while (*line == ' ' || *line == '\t') ++line;
  pid_t tracer = 0;
  while (*line >= '0' && *line <= '9') tracer = tracer * 10 + (*line++ - '0');
  return tracer;
}

bool IsDebuggerPresent() {
  const bool attached = TracerPid(0) != 0;
  g_noTracerUntil.store(attached ? 0 : CoarseNow() + kNoTracerReuseNs, std::memory_order_relaxed);
  return attached;
}

bool DebuggerMayBePresent() {
  static_cast<void>(g_forgetAfterFork);
  if (CoarseNow() < g_noTracerUntil.load(std::memory_order_relaxed)) return false;
  return IsDebuggerPresent();
}

void RaiseDebugEvent(const DebugEventData& event) {
  IgnoreDebugEventSignal();
  // A thread that blocks the signal would keep it pending past the life of `event`; the stop
  // happens on the way out of the raising call, so unblocking around it is enough.
  sigset_t only, previous;
  sigemptyset(&only);
  sigaddset(&only, DebugEventSignal());
  pthread_sigmask(SIG_UNBLOCK, &only, &previous);
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = DebugEventSignal();
  info.si_code = SI_QUEUE;
  info.si_pid = getpid();
  info.si_uid = getuid();
  info.si_value.sival_ptr = const_cast<DebugEventData*>(&event);
  syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(syscall(SYS_gettid)),
          DebugEventSignal(), &info);
  if (sigismember(&previous, DebugEventSignal())) pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void OutputDebugStringW(const wchar_t* text) {
  if (text == nullptr || !DebuggerMayBePresent()) return;
  // The debugger reads UTF-16, as from a Windows process.
  const std::u16string utf16 = WideToUtf16(text);
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = DBG_PRINTEXCEPTION_WIDE_C;
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = utf16.size() + 1;
  record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(utf16.c_str());
  RaiseDebugEvent(record);
}

void OutputDebugStringA(const char* text) {
  if (text == nullptr || !DebuggerMayBePresent()) return;
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = DBG_PRINTEXCEPTION_C;
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = std::strlen(text) + 1;
  record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(text);
  RaiseDebugEvent(record);
}

}  // namespace corvantis
