#include "debug_capture/debugger_launcher.h"

#include <memory>

#include "debug_capture/debugger_launch_system_linux.h"

namespace corvantis {

std::vector<std::string> DebuggerChildArguments(const std::string& executablePath,
                                                const DebugOptions& options, std::uint32_t parentId,
                                                std::uint32_t event) {
  std::vector<std::string> arguments{executablePath};
  if (options.DisableDebugOutput != 0) arguments.emplace_back("-DisableDebugOutput");
  arguments.emplace_back("-ParentProcessDebug");
  arguments.push_back(std::to_string(parentId));
  arguments.push_back(std::to_string(options.DumpType));
  arguments.push_back(std::to_string(event));
  return arguments;
}

bool StartDebuggerChild(const DebugOptions& options, DebuggerLaunchSystem& system) {
  if (system.DebuggerPresent()) return false;
  // Without an event the child could not report its attach; no child rather than a blind race.
  const int event = system.OpenAttachEvent();
  if (event < 0) return false;
  const bool started = system.StartChild(DebuggerChildArguments(
      system.ExecutablePath(), options, system.ProcessId(), static_cast<std::uint32_t>(event)));
  if (started) system.WaitForChild(kDebuggerAttachTimeoutMs);
  system.CloseAttachEvent();
  return started;
}

bool StartDebuggerChild(const DebugOptions& options) {
  LinuxDebuggerLaunchSystem system;
  return StartDebuggerChild(options, system);
}

}  // namespace corvantis
