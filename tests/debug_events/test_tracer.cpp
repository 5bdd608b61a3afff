#include "tests/debug_events/test_tracer.h"

#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace corvantis {

namespace {

// The child: no core files from the faults the tests cause, then `body`, then a clean exit.
[[noreturn]] void RunChild(int goFd, const std::function<void()>& body) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  char byte;
  while (read(goFd, &byte, 1) < 0 && errno == EINTR) {
  }
  close(goFd);
  body();
  _exit(0);
}

}  // namespace

bool ReadRemote(pid_t pid, std::uint64_t address, void* out, std::size_t size) {
  iovec local{out, size};
  iovec remote{reinterpret_cast<void*>(address), size};
  return process_vm_readv(pid, &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

TraceResult RunTraced(const std::function<void()>& body,
                      const std::function<void(pid_t, const TracedEvent&)>& inspect) {
  TraceResult result;
  int go[2];
  if (pipe(go) != 0) return result;
  const pid_t pid = fork();
  if (pid == 0) {
    close(go[1]);
    RunChild(go[0], body);
  }
  close(go[0]);
  const bool seized =
      pid > 0 && ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_EXITKILL | PTRACE_O_TRACECLONE) == 0;
  const char byte = 1;
  if (seized) {
    while (write(go[1], &byte, 1) < 0 && errno == EINTR) {
    }
  }
  close(go[1]);
  if (pid <= 0) return result;
  for (;;) {
    int status = 0;
    // Any thread of the child: new threads are traced as they start.
    const pid_t thread = waitpid(-1, &status, __WALL);
    if (thread < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      if (thread != pid) continue;
      result.Status = status;
      break;
    }
    if (!WIFSTOPPED(status)) continue;
    const int signal = WSTOPSIG(status);
    if ((status >> 16) != 0) {  // a new thread, a group stop or an interrupt: nothing to deliver
      ptrace(PTRACE_CONT, thread, nullptr, nullptr);
      continue;
    }
    siginfo_t info{};
    if (signal == DebugEventSignal() && ptrace(PTRACE_GETSIGINFO, thread, nullptr, &info) == 0) {
      TracedEvent event{};
      const auto address = reinterpret_cast<std::uint64_t>(info.si_value.sival_ptr);
      if (ReadRemote(pid, address, &event.Data, sizeof event.Data)) {
        ucontext_t context;
        if (event.Data.ContextAddress != 0 &&
            ReadRemote(pid, event.Data.ContextAddress, &context, sizeof context))
          event.ContextRip = static_cast<std::uint64_t>(context.uc_mcontext.gregs[REG_RIP]);
        if (inspect) inspect(pid, event);
        result.Events.push_back(event);
      }
      ptrace(PTRACE_CONT, thread, nullptr, nullptr);  // the event is not the child's to handle
      continue;
    }
    result.PassedSignals.push_back(signal);
    ptrace(PTRACE_CONT, thread, nullptr,
           reinterpret_cast<void*>(static_cast<std::intptr_t>(signal)));
  }
  return result;
}

int RunUntraced(const std::function<void()>& body) {
  int go[2];
  if (pipe(go) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(go[1]);
    RunChild(go[0], body);
  }
  close(go[0]);
  close(go[1]);
  int status = -1;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace corvantis
