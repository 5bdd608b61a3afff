#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

// The three roles the entry hands work to.
struct ProcessRoles {
  // True when the arguments made this process the debugger child and its work is done; an
  // error it raises (the parent could not be attached) ends the process quietly.
  std::function<bool(const std::vector<std::wstring>&)> RunDebuggerChild;
  // Called once the process is known to take the benchmark role, before its options are read.
  std::function<void()> EnterBenchmarkRole;
  // Starts a debugger child for this process; the result is not used.
  std::function<bool(const DebugOptions&)> StartDebuggerChild;
  // "-ListAdapters": prints the adapters and what each encodes; the exit code.
  std::function<int()> ListAdapters;
  // Sets the session's AdapterIndex from its AdapterChoice; raises E_INVALIDARG when the choice
  // names no adapter.
  std::function<void(BenchmarkSession&)> ResolveAdapter;
  std::function<int(BenchmarkSession&)> RunBenchmarkSession;
};

// The process entry over an argument list: the exit code of the role that ran. An invalid
// argument or an error that escapes the benchmark role is reported in one line on standard error;
// one that escapes the debugger child gives kExitFailure without a message.
int RunProcess(const std::vector<std::wstring>& arguments, const ProcessRoles& roles);

inline constexpr int kExitInvalidArgument = 2;
inline constexpr int kExitFailure = 1;

// The roles of this program.
ProcessRoles ProductionRoles();

}  // namespace corvantis
