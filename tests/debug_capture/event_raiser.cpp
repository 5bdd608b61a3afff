// A program of the tests' own: starts the debugger child for itself, as the benchmark's launcher
// does, then raises the events its arguments name.
//   event_raiser <corvantis> [traced] [quiet] [group] [handler] actions...
// actions: strings throw segv int3 print interrupt (Ctrl-C to its own process group) replace (a
// new file takes the place of <corvantis>, as an update would leave it)
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug_event.h"
#include "platform/debug_output.h"
#include "platform/fault_debug_event.h"
#include "platform/fault_signals.h"
#include "tests/fakes/thrown_hresult.h"

using namespace corvantis;

extern "C" char** environ;

namespace {

void RaiseThrow(std::uint32_t hresult) {
  const fakes::ThrownHresult thrown(hresult);
  RaiseDebugEvent(thrown.Record);
}

// Keeps this process traced by a helper of its own, so that no other tracer can attach.
void BecomeTraced() {
  const pid_t self = getpid();
  int ready[2];
  if (pipe(ready) != 0) return;
  if (fork() == 0) {
    if (ptrace(PTRACE_SEIZE, self, nullptr, nullptr) != 0) _exit(1);
    close(ready[0]);
    close(ready[1]);
    for (int status; waitpid(self, &status, __WALL) == self;) {
      if (WIFEXITED(status) || WIFSIGNALED(status)) break;
      const int signal = (status >> 16) == 0 ? WSTOPSIG(status) : 0;
      ptrace(PTRACE_CONT, self, nullptr,
             reinterpret_cast<void*>(static_cast<std::uintptr_t>(signal)));
    }
    _exit(0);
  }
  close(ready[1]);
  char byte;
  while (read(ready[0], &byte, 1) > 0) {
  }
  close(ready[0]);
}

// Starts the debugger child and waits at most 5 s for its signal; its pid goes to stderr.
void StartChild(const char* program, bool quiet) {
  int event[2];
  if (pipe(event) != 0) return;
  std::vector<std::string> arguments{program};
  if (quiet) arguments.push_back("-DisableDebugOutput");
  for (const std::string& a : {std::string("-ParentProcessDebug"), std::to_string(getpid()),
                               std::string("0"), std::to_string(event[1])})
    arguments.push_back(a);
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, program, nullptr, nullptr, argv.data(), environ) != 0) return;
  close(event[1]);
  pollfd wait{event[0], POLLIN, 0};
  poll(&wait, 1, 5000);
  close(event[0]);
  std::fprintf(stderr, "child %d\n", static_cast<int>(child));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  int first = 2;
  bool quiet = false;
  for (; first < argc; ++first) {
    if (std::strcmp(argv[first], "traced") == 0)
      BecomeTraced();
    else if (std::strcmp(argv[first], "quiet") == 0)
      quiet = true;
    else if (std::strcmp(argv[first], "group") == 0)
      setpgid(0, 0);
    else if (std::strcmp(argv[first], "handler") == 0)
      AddFaultObserver(RaiseFaultDebugEvent);
    else
      break;
  }
  StartChild(argv[1], quiet);
  for (int i = first; i < argc; ++i) {
    const std::string action = argv[i];
    if (action == "strings") {
      OutputDebugStringW(L"wide h\u00e9llo.\r\n");
      OutputDebugStringA("narrow caf\xc3\xa9 \xe9");
    } else if (action == "throw") {
      RaiseThrow(0x80070050);
    } else if (action == "int3") {
      __asm__ volatile("int3");
    } else if (action == "replace") {
      unlink(argv[1]);
      if (FILE* file = std::fopen(argv[1], "w")) std::fclose(file);
    } else if (action == "segv") {
      volatile int* volatile nowhere = nullptr;
      *nowhere = 1;
    } else if (action == "interrupt") {
      kill(0, SIGINT);
      for (int wait = 0; wait < 50; ++wait) usleep(100000);
    } else if (action == "print") {
      std::printf("parent line\n");
      std::fflush(stdout);
    }
  }
  return 0;
}
