#include "debug_capture/debugger_launch_system_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>

#include "platform/debug_output.h"
#include "platform/fault_signals.h"
#include "platform/signal_stack.h"

namespace corvantis {

namespace {

// A descriptor above the standard three, so that the number never reads as stdin (or as "no
// event") in the child, even when this process was started with a standard stream closed.
unique_fd AboveStandardStreams(unique_fd fd) {
  if (!fd || fd.get() > 2) return fd;
  return unique_fd(fcntl(fd.get(), F_DUPFD_CLOEXEC, 3));
}

bool ReadFully(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// This process no longer names a permitted tracer (Yama): the child it named has ended, and its
// pid may go to any other process.
void ForgetPermittedTracer() { prctl(PR_SET_PTRACER, 0UL, 0UL, 0UL, 0UL); }

void* ReapChild(void* argument) {
  const ThreadSignalStack stack;
  const auto pid = static_cast<pid_t>(reinterpret_cast<std::intptr_t>(argument));
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  ForgetPermittedTracer();
  return nullptr;
}

// The child normally lives until this process ends; a thread blocked on it alone collects it
// whenever it ends earlier, without a SIGCHLD handler that would disturb other waits.
void ReapWhenEnded(pid_t pid) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attributes, 64 * 1024);
  // Signals meant for the process go elsewhere; its own faults still reach the fault handler.
  sigset_t all, previous;
  sigfillset(&all);
  for (const FaultSignal& fault : kFaultSignals) sigdelset(&all, fault.Number);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_t thread;
  const bool created =
      pthread_create(&thread, &attributes, ReapChild,
                     reinterpret_cast<void*>(static_cast<std::intptr_t>(pid))) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  pthread_attr_destroy(&attributes);
  if (created) {
    pthread_setname_np(thread, "debugger-reaper");
  } else if (waitpid(pid, nullptr, WNOHANG) == pid) {
    ForgetPermittedTracer();
  }
}

std::int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

}  // namespace

LinuxDebuggerLaunchSystem::LinuxDebuggerLaunchSystem(std::string program)
    : program_(std::move(program)) {}

LinuxDebuggerLaunchSystem::~LinuxDebuggerLaunchSystem() {
  if (child_ > 0) ReapWhenEnded(child_);
}

bool LinuxDebuggerLaunchSystem::DebuggerPresent() { return IsDebuggerPresent(); }

std::uint32_t LinuxDebuggerLaunchSystem::ProcessId() {
  return static_cast<std::uint32_t>(getpid());
}

std::string LinuxDebuggerLaunchSystem::ExecutablePath() {
  char path[4096];
  const ssize_t n = readlink(program_.c_str(), path, sizeof path);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof path) return program_;
  return std::string(path, static_cast<std::size_t>(n));
}

int LinuxDebuggerLaunchSystem::OpenAttachEvent() {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return -1;
  eventRead_.reset(ends[0]);
  eventWrite_ = AboveStandardStreams(unique_fd(ends[1]));
  if (!eventWrite_) eventRead_.reset();
  return eventWrite_ ? eventWrite_.get() : -1;
}

bool LinuxDebuggerLaunchSystem::StartChild(const std::vector<std::string>& arguments) {
  if (!eventWrite_ || arguments.empty()) return false;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  // The child waits at `go` until this process has named it as its permitted tracer (Yama's
  // restricted ptrace scope); `execFailed` carries errno when exec fails and closes on success.
  int go[2], execFailed[2];
  if (pipe2(go, O_CLOEXEC) != 0) return false;
  unique_fd goRead(go[0]), goWrite(go[1]);
  if (pipe2(execFailed, O_CLOEXEC) != 0) return false;
  unique_fd failedRead(execFailed[0]), failedWrite(execFailed[1]);

  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    close(go[1]);
    char byte;
    while (read(go[0], &byte, 1) < 0 && errno == EINTR) {
    }
    int error = 0;
    if (fcntl(eventWrite_.get(), F_SETFD, 0) != 0) error = errno;
    if (error == 0) {
      execve(program_.c_str(), argv.data(), environ);
      error = errno;
    }
    while (write(execFailed[1], &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
  }

  goRead.reset();
  failedWrite.reset();
  // Without Yama this fails with EINVAL and nothing is needed.
  prctl(PR_SET_PTRACER, static_cast<unsigned long>(pid), 0UL, 0UL, 0UL);
  const char go_ahead = 1;
  while (write(goWrite.get(), &go_ahead, 1) < 0 && errno == EINTR) {
  }
  goWrite.reset();
  int error = 0;
  if (ReadFully(failedRead.get(), &error, sizeof error)) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    ForgetPermittedTracer();
    return false;
  }
  child_ = pid;
  childExit_.reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  // The child holds the only other write end: its signal or its end wakes the read end.
  eventWrite_.reset();
  return true;
}

void LinuxDebuggerLaunchSystem::WaitForChild(int timeoutMs) {
  if (child_ <= 0) return;
  pollfd watched[2] = {{eventRead_.get(), POLLIN, 0}, {childExit_.get(), POLLIN, 0}};
  const nfds_t count = childExit_ ? 2 : 1;
  const std::int64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    const std::int64_t left = deadline - MonotonicMs();
    if (left <= 0) break;
    const int ready = poll(watched, count, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    break;
  }
  // The child has most likely attached by now; events from here on must not wait for the
  // reuse of an earlier "no debugger" answer to run out.
  IsDebuggerPresent();
}

void LinuxDebuggerLaunchSystem::CloseAttachEvent() {
  eventRead_.reset();
  eventWrite_.reset();
}

}  // namespace corvantis
