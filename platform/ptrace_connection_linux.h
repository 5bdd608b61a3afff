#pragma once
#include <memory>

#include "platform/ptrace_connection.h"
#include "platform/unique_fd.h"

namespace corvantis {

// PtraceConnection over the Linux ptrace interface (PTRACE_SEIZE, following clones). Memory is
// read with process_vm_readv, falling back to /proc/<pid>/mem. The destructor detaches.
class LinuxPtraceConnection final : public PtraceConnection {
 public:
  LinuxPtraceConnection();
  ~LinuxPtraceConnection() override;
  LinuxPtraceConnection(const LinuxPtraceConnection&) = delete;
  LinuxPtraceConnection& operator=(const LinuxPtraceConnection&) = delete;

  pid_t ProcessId() const override;
  bool Attach(pid_t pid) override;
  std::vector<pid_t> Threads() override;
  bool StopAll() override;
  void ResumeAll() override;
  std::optional<ThreadContext> ReadContext(pid_t tid) override;
  TargetMemory& Memory() override;
  std::optional<std::string> ReadProcFile(const std::string& name) override;
  TraceEvent WaitForEvent() override;
  bool Continue(pid_t tid, int signal) override;
  void DetachAll() override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Memory of any process this one may trace, without attaching (process_vm_readv, then
// /proc/<pid>/mem where that is not permitted; `procMemOnly` goes there at once).
class ProcessMemoryReader final : public TargetMemory {
 public:
  explicit ProcessMemoryReader(pid_t pid, bool procMemOnly = false);
  ProcessMemoryReader(const ProcessMemoryReader&) = delete;
  ProcessMemoryReader& operator=(const ProcessMemoryReader&) = delete;

  std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) override;

 private:
  long ReadOnce(std::uint64_t address, std::size_t size, std::byte* into);

  pid_t pid_;
  unique_fd procMem_;
  bool useProcMem_ = false;
};

}  // namespace corvantis
