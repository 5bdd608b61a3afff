#pragma once
#include <sys/types.h>

#include <string>

#include "debug_capture/debugger_launcher.h"
#include "platform/unique_fd.h"

namespace corvantis {

// The launch on Linux: a pipe is the attach event (the child gets the number of its write end and
// writes a byte or closes it), fork and exec with no shell, the wait polls the pipe and a pidfd,
// and a small thread reaps the child whenever it ends.
class LinuxDebuggerLaunchSystem final : public DebuggerLaunchSystem {
 public:
  // `program` is what the child runs; the own executable unless a test names another.
  explicit LinuxDebuggerLaunchSystem(std::string program = "/proc/self/exe");
  ~LinuxDebuggerLaunchSystem() override;

  bool DebuggerPresent() override;
  std::uint32_t ProcessId() override;
  std::string ExecutablePath() override;
  int OpenAttachEvent() override;
  bool StartChild(const std::vector<std::string>& arguments) override;
  void WaitForChild(int timeoutMs) override;
  void CloseAttachEvent() override;

 private:
  std::string program_;
  unique_fd eventRead_;
  unique_fd eventWrite_;
  unique_fd childExit_;  // pidfd of the child when the kernel offers one
  pid_t child_ = -1;
};

}  // namespace corvantis
