#pragma once
#include <signal.h>
#include <sys/types.h>
#include <sys/user.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvantis {

// A thread's x86-64 registers as ptrace gives them (PTRACE_GETREGS, PTRACE_GETFPREGS in the
// FXSAVE layout, and DR0..DR7 from PTRACE_PEEKUSER).
struct ThreadContext {
  user_regs_struct Registers;
  user_fpregs_struct FloatingPoint;
  std::uint64_t DebugRegisters[8];
};

// Reads another process's memory.
class TargetMemory {
 public:
  virtual ~TargetMemory() = default;
  // Copies the bytes at `address` into `buffer` up to the first byte that cannot be read;
  // returns the number copied (0 when none can be).
  virtual std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) = 0;
};

enum class TraceEventKind {
  Signal,         // a thread stopped at a signal about to be delivered; it waits for Continue
  ProcessExited,  // the traced process ended
  Lost,           // nothing is traced any more (waiting failed)
};

struct TraceEvent {
  TraceEventKind Kind = TraceEventKind::Lost;
  pid_t ThreadId = 0;
  siginfo_t SignalInfo{};  // Signal: as PTRACE_GETSIGINFO gives it
  int Status = 0;          // ProcessExited: the wait status (WIFEXITED / WIFSIGNALED)
};

// A tracer's hold on every thread of one process. Threads the process starts are followed;
// thread starts, thread exits and job-control stops are handled inside and never reported.
// One tracer thread uses it; it waits for all of this process's traced children, so the
// caller must not wait for other children of its own meanwhile. Its timed waits take SIGCHLD
// with sigtimedwait, so the process must not rely on a SIGCHLD handler of its own. Only
// WaitForEvent waits for as long as the process runs; every other wait is bounded.
class PtraceConnection {
 public:
  virtual ~PtraceConnection() = default;

  // The traced process; 0 until Attach succeeds.
  virtual pid_t ProcessId() const = 0;

  // Seizes every thread of `pid` and leaves them all stopped. False when the process cannot
  // be traced (gone, not permitted, already traced); nothing stays attached then.
  virtual bool Attach(pid_t pid) = 0;

  // The attached threads, the process's main thread first.
  virtual std::vector<pid_t> Threads() = 0;

  // Stops every attached thread that runs, waiting about a second at most. Signals they stop at
  // meanwhile are kept for WaitForEvent. False when a thread did not stop in time: it runs on
  // and is not waited for again until it has stopped once.
  virtual bool StopAll() = 0;

  // Resumes the threads that Attach or StopAll stopped. A thread whose signal was reported and
  // not yet continued, or is still to be reported, stays stopped.
  virtual void ResumeAll() = 0;

  // Registers of a stopped thread; nothing when they cannot be read.
  virtual std::optional<ThreadContext> ReadContext(pid_t tid) = 0;

  // The traced process's memory (valid for the connection's lifetime).
  virtual TargetMemory& Memory() = 0;

  // The bytes of /proc/<pid>/<name>, e.g. "maps", "auxv", "task/<tid>/stat"; nothing when
  // the file cannot be read.
  virtual std::optional<std::string> ReadProcFile(const std::string& name) = 0;

  // Blocks until a thread stops at a signal or the process ends.
  virtual TraceEvent WaitForEvent() = 0;

  // Resumes a thread stopped at a reported signal, delivering `signal` (0 suppresses it).
  // False when the thread cannot be resumed; true as well when it was killed meanwhile.
  virtual bool Continue(pid_t tid, int signal) = 0;

  // Lets go of every thread, after StopAll. A signal that stopped a thread and was not handed
  // on yet is delivered, so the process goes on as it would have without the tracer. A thread
  // that did not stop stays traced until this process ends.
  virtual void DetachAll() = 0;
};

}  // namespace corvantis
