#include "platform/ptrace_connection_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "platform/file_bytes.h"

namespace corvantis {

namespace {

constexpr std::uint64_t kPageSize = 4096;

long Trace(__ptrace_request request, pid_t tid, std::uintptr_t address, std::uintptr_t data) {
  return ptrace(request, tid, reinterpret_cast<void*>(address), reinterpret_cast<void*>(data));
}

using Clock = std::chrono::steady_clock;

// How long StopAll waits for the threads to stop, and how often it interrupts the stragglers
// again meanwhile.
constexpr auto kStopLimit = std::chrono::milliseconds(1000);
constexpr auto kInterruptAgain = std::chrono::milliseconds(20);
// The longest sleep between two looks at the wait queue: bounds the delay when another thread
// of this process takes the SIGCHLD meant to wake this one.
constexpr auto kWakeSlice = std::chrono::milliseconds(5);

pid_t WaitFor(pid_t tid, int& status) {
  pid_t result;
  do {
    result = waitpid(tid, &status, __WALL);
  } while (result < 0 && errno == EINTR);
  return result;
}

// SIGCHLD blocked on this thread while the object lives. Each stop and end of a tracee raises it;
// blocked, it stays pending until Sleep takes it, so no wake-up is lost between a look at a
// thread and the sleep.
class ChildSignalBlocked {
 public:
  ChildSignalBlocked() {
    sigemptyset(&childSignal_);
    sigaddset(&childSignal_, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &childSignal_, &previous_);
  }
  ~ChildSignalBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  ChildSignalBlocked(const ChildSignalBlocked&) = delete;
  ChildSignalBlocked& operator=(const ChildSignalBlocked&) = delete;

  // Sleeps until a tracee's status may have come, or `until`, or kWakeSlice at most.
  void Sleep(Clock::time_point until) const {
    const auto left = std::min<Clock::duration>(until - Clock::now(), kWakeSlice);
    if (left <= Clock::duration::zero()) return;
    const timespec wait{
        0, static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left).count())};
    sigtimedwait(&childSignal_, nullptr, &wait);
  }

 private:
  sigset_t childSignal_;
  sigset_t previous_;
};

// True when thread `tid` of `pid` is a zombie, dead or gone, by the state letter of its stat file.
bool HasEnded(pid_t pid, pid_t tid) {
  const std::string path =
      "/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/stat";
  unique_fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return true;
  char stat[512];
  const ssize_t n = read(fd.get(), stat, sizeof stat - 1);
  if (n <= 0) return true;
  const std::string_view text(stat, static_cast<std::size_t>(n));
  const auto close = text.rfind(')');
  return close == std::string_view::npos || close + 2 >= text.size() || text[close + 2] == 'Z' ||
         text[close + 2] == 'X';
}

enum class ThreadState {
  Running,
  Held,      // stopped by us (attach, interrupt, clone, job control); resumed by ResumeAll
  Queued,    // stopped at a signal not yet reported
  Reported,  // stopped at a reported signal; resumed by Continue
};

// One seized thread; lets go of it when destroyed unless the thread is gone.
class ThreadAttachment {
 public:
  explicit ThreadAttachment(pid_t tid) : tid_(tid) {}
  ~ThreadAttachment() { Detach(); }
  ThreadAttachment(const ThreadAttachment&) = delete;
  ThreadAttachment& operator=(const ThreadAttachment&) = delete;

  pid_t tid() const { return tid_; }

  void MarkGone() { gone_ = true; }

  // Only a stopped tracee can be let go; one that StopAll could not stop stays traced until this
  // process ends, when the kernel lets it go.
  void Detach() {
    if (gone_) return;
    gone_ = true;
    if (State == ThreadState::Running) return;
    const int signal =
        (State == ThreadState::Queued || State == ThreadState::Reported) ? PendingSignal : 0;
    Trace(PTRACE_DETACH, tid_, 0, static_cast<std::uintptr_t>(signal));
  }

  ThreadState State = ThreadState::Running;
  bool GroupStop = false;     // held in a job-control stop: resumed with PTRACE_LISTEN
  bool Interrupted = false;   // PTRACE_INTERRUPT sent since its last stop
  bool Unresponsive = false;  // did not stop within the limit; not waited for until it stops
  bool Announced = false;     // seized at attach, or its creator's clone event was seen
  int PendingSignal = 0;      // Queued / Reported: the signal it stopped at

 private:
  pid_t tid_;
  bool gone_ = false;
};

}  // namespace

ProcessMemoryReader::ProcessMemoryReader(pid_t pid, bool procMemOnly)
    : pid_(pid), useProcMem_(procMemOnly) {}

long ProcessMemoryReader::ReadOnce(std::uint64_t address, std::size_t size, std::byte* into) {
  if (!useProcMem_) {
    iovec local{into, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t n = process_vm_readv(pid_, &local, 1, &remote, 1, 0);
    if (n >= 0 || errno == EFAULT || errno == ESRCH) return n;
    // Not permitted or not available: /proc/<pid>/mem does the same for a tracer.
    useProcMem_ = true;
  }
  if (!procMem_) {
    const std::string path = "/proc/" + std::to_string(pid_) + "/mem";
    procMem_.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!procMem_) return -1;
  }
  if (address > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
  ssize_t n;
  do {
    n = pread(procMem_.get(), into, size, static_cast<off_t>(address));
  } while (n < 0 && errno == EINTR);
  return n;
}

std::size_t ProcessMemoryReader::Read(std::uint64_t address, std::span<std::byte> buffer) {
  // Never wrap around the end of the address space.
  std::size_t size = buffer.size();
  if (size > std::numeric_limits<std::uint64_t>::max() - address)
    size = static_cast<std::size_t>(std::numeric_limits<std::uint64_t>::max() - address);
  std::size_t done = 0;
  while (done < size) {
    const std::uint64_t at = address + done;
    long n = ReadOnce(at, size - done, buffer.data() + done);
    if (n <= 0) {
      // A read that starts readable and runs into a hole may fail as a whole: retry up to
      // the end of the first page so the readable prefix is still copied.
      const std::size_t toPageEnd = static_cast<std::size_t>(kPageSize - at % kPageSize);
      if (toPageEnd >= size - done) break;
      n = ReadOnce(at, toPageEnd, buffer.data() + done);
      if (n <= 0) break;
    }
    done += static_cast<std::size_t>(n);
  }
  return done;
}

namespace {

// The connection's memory: one object for the connection's lifetime, reading the process
// attached at the time.
class ConnectionMemory final : public TargetMemory {
 public:
  void Target(pid_t pid) {
    reader_ = pid > 0 ? std::make_unique<ProcessMemoryReader>(pid) : nullptr;
  }
  std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) override {
    return reader_ ? reader_->Read(address, buffer) : 0;
  }

 private:
  std::unique_ptr<ProcessMemoryReader> reader_;
};

}  // namespace

struct LinuxPtraceConnection::State {
  pid_t Pid = 0;
  std::map<pid_t, std::unique_ptr<ThreadAttachment>> ThreadsById;
  std::deque<TraceEvent> Pending;
  std::optional<TraceEvent> Exit;  // the process's end, once seen
  ConnectionMemory Memory;
  std::vector<pid_t> Born;  // entries made since StopAll last looked
  std::set<pid_t>
      EndedBeforeAnnounced;  // threads whose end came before their creator's clone event

  ThreadAttachment& Find(pid_t tid) {
    auto& slot = ThreadsById[tid];
    if (!slot) {
      slot = std::make_unique<ThreadAttachment>(tid);
      Born.push_back(tid);
    }
    return *slot;
  }

  // Lets go of the entry of a thread that no longer exists or is no longer ours.
  void Drop(pid_t tid) {
    auto found = ThreadsById.find(tid);
    if (found != ThreadsById.end()) {
      if (!found->second->Announced) EndedBeforeAnnounced.insert(tid);
      found->second->MarkGone();
      ThreadsById.erase(found);
    } else {
      EndedBeforeAnnounced.insert(tid);
    }
    std::erase_if(Pending, [tid](const TraceEvent& e) { return e.ThreadId == tid; });
  }

  void Forget() {
    for (auto& [tid, thread] : ThreadsById) thread->MarkGone();
    ThreadsById.clear();
    Pending.clear();
    Born.clear();
    EndedBeforeAnnounced.clear();
  }

  // Takes in one wait status. A signal stop is queued; other stops leave the thread held.
  void Absorb(pid_t tid, int status) {
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
      if (tid == Pid) {
        TraceEvent exit;
        exit.Kind = TraceEventKind::ProcessExited;
        exit.ThreadId = tid;
        exit.Status = status;
        Exit = exit;
        Forget();
        return;
      }
      Drop(tid);
      return;
    }
    if (!WIFSTOPPED(status)) return;
    ThreadAttachment& thread = Find(tid);  // a new thread may stop before its clone is seen
    const int event = status >> 16;
    const int signal = WSTOPSIG(status);
    thread.GroupStop = false;
    // Any stop ends a pending interrupt's claim: the kernel drops the interrupt at other stops.
    thread.Interrupted = false;
    thread.Unresponsive = false;
    if (event == PTRACE_EVENT_CLONE) {
      unsigned long child = 0;
      if (Trace(PTRACE_GETEVENTMSG, tid, 0, reinterpret_cast<std::uintptr_t>(&child)) == 0 &&
          child != 0) {
        // A thread that has already ended must not come back as one to wait for.
        if (EndedBeforeAnnounced.erase(static_cast<pid_t>(child)) == 0)
          Find(static_cast<pid_t>(child)).Announced = true;  // it reports its own first stop
      }
      thread.State = ThreadState::Held;
    } else if (event == PTRACE_EVENT_STOP) {
      thread.State = ThreadState::Held;
      thread.GroupStop = signal != SIGTRAP;
    } else if (event != 0) {
      thread.State = ThreadState::Held;
    } else {
      TraceEvent stop;
      stop.Kind = TraceEventKind::Signal;
      stop.ThreadId = tid;
      if (Trace(PTRACE_GETSIGINFO, tid, 0, reinterpret_cast<std::uintptr_t>(&stop.SignalInfo)) != 0)
        stop.SignalInfo.si_signo = signal;
      thread.State = ThreadState::Queued;
      thread.PendingSignal = signal;
      Pending.push_back(stop);
    }
  }

  void Resume(ThreadAttachment& thread) {
    const long result = thread.GroupStop ? Trace(PTRACE_LISTEN, thread.tid(), 0, 0)
                                         : Trace(PTRACE_CONT, thread.tid(), 0, 0);
    // A thread that cannot be resumed is on its way out; its exit status follows.
    (void)result;
    thread.State = ThreadState::Running;
    thread.Interrupted = false;
  }

  // Asks a running thread to stop; false when it is gone or no longer ours (its entry is dropped).
  bool Interrupt(ThreadAttachment& thread) {
    thread.Interrupted = true;
    if (Trace(PTRACE_INTERRUPT, thread.tid(), 0, 0) == 0 || errno != ESRCH) return true;
    Drop(thread.tid());
    return false;
  }

  // Whether a thread still needs to be waited for; settles those that will never stop.
  bool StillToStop(pid_t tid) {
    auto found = ThreadsById.find(tid);
    if (found == ThreadsById.end() || found->second->State != ThreadState::Running) return false;
    // A main thread that ended before the others never stops again; its end is reported with the
    // process's, so waiting for it would hold every other thread for good.
    if (tid == Pid && HasEnded(Pid, tid)) {
      found->second->State = ThreadState::Held;
      return false;
    }
    return true;
  }

  // Takes in the status thread `tid` has now, if any; true when something changed. One thread
  // at a time: waitpid(-1) looks at every tracee, which would make stopping N threads cost N².
  bool Collect(pid_t tid) {
    int status = 0;
    pid_t result;
    do {
      result = waitpid(tid, &status, __WALL | WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == tid) {
      Absorb(tid, status);
      return true;
    }
    if (result < 0 && errno == ECHILD) {  // no longer ours to wait for
      Drop(tid);
      return true;
    }
    return false;
  }

  // Stops every running thread, waiting at most kStopLimit. True when all stopped; a thread that
  // did not is left running and not waited for again until it stops.
  bool StopAll() {
    if (Exit) return true;
    const ChildSignalBlocked childSignal;
    const auto deadline = Clock::now() + kStopLimit;
    auto again = Clock::now() + kInterruptAgain;
    bool all = true;
    std::set<pid_t> waiting;
    Born.clear();
    for (auto& [tid, thread] : ThreadsById) {
      if (thread->Unresponsive && thread->State == ThreadState::Running) {
        all = false;
        continue;
      }
      if (StillToStop(tid)) waiting.insert(tid);
    }
    for (auto at = waiting.begin(); at != waiting.end();) {
      ThreadAttachment& thread = *ThreadsById[*at];
      if (thread.Interrupted || Interrupt(thread)) {
        ++at;
      } else {
        at = waiting.erase(at);
      }
    }
    for (;;) {
      if (Exit) return true;
      // Threads started meanwhile stop by themselves before their first instruction.
      for (const pid_t tid : Born)
        if (StillToStop(tid)) waiting.insert(tid);
      Born.clear();
      if (waiting.empty()) return all;
      const pid_t next = *waiting.begin();
      if (Collect(next)) {
        if (!StillToStop(next)) waiting.erase(next);
        continue;
      }
      const auto now = Clock::now();
      if (now < again && now < deadline) {
        childSignal.Sleep(std::min(deadline, again));
        continue;
      }
      // Take in what the others have come to, and interrupt again those still running: an
      // interrupt can be lost (the kernel drops it at another stop). At the limit, give up on them.
      again = now + kInterruptAgain;
      const bool late = now >= deadline;
      for (auto at = waiting.begin(); at != waiting.end();) {
        Collect(*at);
        if (!StillToStop(*at)) {
          at = waiting.erase(at);
        } else if (late) {
          ThreadsById[*at]->Unresponsive = true;
          ++at;
        } else if (Interrupt(*ThreadsById[*at])) {
          ++at;
        } else {
          at = waiting.erase(at);
        }
      }
      if (late) return all && waiting.empty();
    }
  }
};

LinuxPtraceConnection::LinuxPtraceConnection() : state_(std::make_unique<State>()) {}

LinuxPtraceConnection::~LinuxPtraceConnection() { DetachAll(); }

pid_t LinuxPtraceConnection::ProcessId() const { return state_->Pid; }

bool LinuxPtraceConnection::Attach(pid_t pid) {
  if (state_->Pid != 0 || pid <= 0) return false;
  state_->Pid = pid;
  state_->Exit.reset();
  state_->Memory.Target(pid);
  const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
  // Threads started by a thread not yet seized are missed by one listing: list until stable.
  for (bool added = true; added;) {
    added = false;
    DIR* dir = opendir(taskDir.c_str());
    if (dir == nullptr) break;
    while (const dirent* entry = readdir(dir)) {
      char* end = nullptr;
      const long tid = std::strtol(entry->d_name, &end, 10);
      if (tid <= 0 || *end != '\0' || state_->ThreadsById.count(static_cast<pid_t>(tid)) != 0)
        continue;
      if (Trace(PTRACE_SEIZE, static_cast<pid_t>(tid), 0, PTRACE_O_TRACECLONE) == 0) {
        state_->Find(static_cast<pid_t>(tid));
        added = true;
      }
    }
    closedir(dir);
  }
  if (state_->ThreadsById.count(pid) == 0) {
    DetachAll();
    return false;
  }
  for (auto& [tid, thread] : state_->ThreadsById) thread->Announced = true;
  state_->StopAll();
  if (state_->Exit) {
    DetachAll();
    return false;
  }
  return true;
}

std::vector<pid_t> LinuxPtraceConnection::Threads() {
  std::vector<pid_t> threads;
  if (state_->ThreadsById.count(state_->Pid) != 0) threads.push_back(state_->Pid);
  for (const auto& [tid, thread] : state_->ThreadsById)
    if (tid != state_->Pid) threads.push_back(tid);
  return threads;
}

bool LinuxPtraceConnection::StopAll() { return state_->StopAll(); }

void LinuxPtraceConnection::ResumeAll() {
  for (auto& [tid, thread] : state_->ThreadsById)
    if (thread->State == ThreadState::Held) state_->Resume(*thread);
}

std::optional<ThreadContext> LinuxPtraceConnection::ReadContext(pid_t tid) {
  ThreadContext context{};
  if (Trace(PTRACE_GETREGS, tid, 0, reinterpret_cast<std::uintptr_t>(&context.Registers)) != 0)
    return std::nullopt;
  if (Trace(PTRACE_GETFPREGS, tid, 0, reinterpret_cast<std::uintptr_t>(&context.FloatingPoint)) !=
      0)
    context.FloatingPoint = {};
  for (int i = 0; i < 8; ++i) {
    errno = 0;
    const long value =
        Trace(PTRACE_PEEKUSER, tid,
              offsetof(struct user, u_debugreg) + static_cast<std::size_t>(i) * 8, 0);
    context.DebugRegisters[i] = errno == 0 ? static_cast<std::uint64_t>(value) : 0;
  }
  return context;
}

TargetMemory& LinuxPtraceConnection::Memory() { return state_->Memory; }

std::optional<std::string> LinuxPtraceConnection::ReadProcFile(const std::string& name) {
  if (state_->Pid == 0 || name.empty() || name.find("..") != std::string::npos) return std::nullopt;
  return ReadFileBytes("/proc/" + std::to_string(state_->Pid) + "/" + name);
}

TraceEvent LinuxPtraceConnection::WaitForEvent() {
  for (;;) {
    if (!state_->Pending.empty()) {
      TraceEvent event = state_->Pending.front();
      state_->Pending.pop_front();
      auto found = state_->ThreadsById.find(event.ThreadId);
      if (found != state_->ThreadsById.end()) found->second->State = ThreadState::Reported;
      return event;
    }
    if (state_->Exit) {
      TraceEvent exit = *state_->Exit;
      state_->Exit.reset();
      state_->Pid = 0;
      state_->Memory.Target(0);
      return exit;
    }
    if (state_->Pid == 0) return TraceEvent{};
    int status = 0;
    const pid_t tid = WaitFor(-1, status);
    if (tid < 0) {
      state_->Forget();
      state_->Pid = 0;
      return TraceEvent{};
    }
    state_->Absorb(tid, status);
    // Stops that are not signals (thread start, clone, job control) are no events.
    auto found = state_->ThreadsById.find(tid);
    if (found != state_->ThreadsById.end() && found->second->State == ThreadState::Held)
      state_->Resume(*found->second);
  }
}

bool LinuxPtraceConnection::Continue(pid_t tid, int signal) {
  auto found = state_->ThreadsById.find(tid);
  if (found == state_->ThreadsById.end()) return false;
  ThreadAttachment& thread = *found->second;
  if (Trace(PTRACE_CONT, tid, 0, static_cast<std::uintptr_t>(signal)) != 0) {
    // Killed while it was held: its end follows and nothing is left to resume.
    if (errno != ESRCH || !HasEnded(state_->Pid, tid)) return false;
    state_->Drop(tid);
    return true;
  }
  thread.State = ThreadState::Running;
  thread.Interrupted = false;
  thread.PendingSignal = 0;
  return true;
}

void LinuxPtraceConnection::DetachAll() {
  state_->StopAll();
  // Each attachment passes on the signal its thread stopped at.
  state_->ThreadsById.clear();
  state_->Pending.clear();
  state_->Born.clear();
  state_->EndedBeforeAnnounced.clear();
  state_->Exit.reset();
  state_->Pid = 0;
  state_->Memory.Target(0);
}

}  // namespace corvantis
