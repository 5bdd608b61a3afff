// A program that faults the way the benchmark does under its debugger: the fault becomes an
// access-violation event whose data points at the faulting thread's signal frame. It starts two
// idle threads, puts a marker text on the heap, prints "ready" and the text's address (16 hex
// digits), and faults in CrashHere when a byte arrives on standard input.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/debug_event.h"

using namespace corvantis;

namespace {

void OnFault(int, siginfo_t* info, void* frame) {
  DebugEventData event{};
  event.Record.ExceptionCode = 0xC0000005;
  event.Record.ExceptionAddress =
      static_cast<std::uint64_t>(static_cast<ucontext_t*>(frame)->uc_mcontext.gregs[REG_RIP]);
  event.Record.NumberParameters = 2;
  event.Record.ExceptionInformation[0] = 1;  // a write
  event.Record.ExceptionInformation[1] = reinterpret_cast<std::uint64_t>(info->si_addr);
  event.ContextAddress = reinterpret_cast<std::uint64_t>(frame);
  RaiseDebugEvent(event);
  signal(SIGSEGV, SIG_DFL);
}

void* Idle(void*) {
  for (;;) pause();
}

}  // namespace

extern "C" __attribute__((noinline)) void CrashHere(volatile int* target) {
  *target = 42;
  asm volatile("" ::: "memory");
}

int main() {
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO;
  sigaction(SIGSEGV, &action, nullptr);
  pthread_t threads[2];
  for (pthread_t& thread : threads) pthread_create(&thread, nullptr, Idle, nullptr);
  char* marker = strdup("heap marker of the crasher");
  char ready[22];
  std::snprintf(ready, sizeof(ready), "ready%016llx", reinterpret_cast<unsigned long long>(marker));
  if (write(STDOUT_FILENO, ready, 21) != 21) return 1;
  char go;
  if (read(STDIN_FILENO, &go, 1) != 1) return 1;
  CrashHere(static_cast<volatile int*>(nullptr));
  return 0;
}
