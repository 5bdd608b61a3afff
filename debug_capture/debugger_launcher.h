#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "debug_capture/debug_options.h"

namespace corvantis {

// What starting the debugger child needs from the system. One launch per object.
class DebuggerLaunchSystem {
 public:
  virtual ~DebuggerLaunchSystem() = default;
  virtual bool DebuggerPresent() = 0;
  virtual std::uint32_t ProcessId() = 0;
  // Path of the program's own executable, as the child's first argument.
  virtual std::string ExecutablePath() = 0;
  // Creates the attach event that the child inherits; returns the number the child is given to
  // signal it, or a negative value when it cannot be made.
  virtual int OpenAttachEvent() = 0;
  // Starts the own executable with `arguments` (element 0 is the path; no shell), standard
  // streams shared, the event inherited and this process open to the child's tracing. False when
  // no child process runs.
  virtual bool StartChild(const std::vector<std::string>& arguments) = 0;
  // Waits until the child signals the event or ends, or `timeoutMs` has passed.
  virtual void WaitForChild(int timeoutMs) = 0;
  virtual void CloseAttachEvent() = 0;
};

inline constexpr int kDebuggerAttachTimeoutMs = 5000;

// The child's argument vector: the path, "-DisableDebugOutput" when asked, "-ParentProcessDebug"
// and the three numbers in decimal, each its own element.
std::vector<std::string> DebuggerChildArguments(const std::string& executablePath,
                                                const DebugOptions& options, std::uint32_t parentId,
                                                std::uint32_t event);

// Starts a debugger child for this process unless a debugger is already attached and waits for
// its attach signal, its end or the time limit. True when a child process was started.
bool StartDebuggerChild(const DebugOptions& options, DebuggerLaunchSystem& system);

// The same on this process with the Linux system.
bool StartDebuggerChild(const DebugOptions& options);

}  // namespace corvantis
