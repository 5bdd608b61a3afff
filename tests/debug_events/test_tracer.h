#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/debug_event.h"

namespace corvantis {

// A debugger of the tests' own, on ptrace directly: runs a function in a forked child that it
// traces, with every thread, from the function's first line, reads every debug event the child
// raises, passes every other signal on, and reports how the child ended. It waits for any child
// of the test process, so the test must have no other.
struct TracedEvent {
  DebugEventData Data;
  std::uint64_t ContextRip = 0;  // the instruction pointer in the context the event points at
};

struct TraceResult {
  std::vector<TracedEvent> Events;
  std::vector<int> PassedSignals;  // real signals, in the order they were passed on
  int Status = 0;                  // waitpid status of the child's end
};

// Reads `size` bytes of another process; false unless all of them could be read.
bool ReadRemote(pid_t pid, std::uint64_t address, void* out, std::size_t size);

// `inspect` runs at each debug event while the child is stopped, e.g. to follow its pointers.
TraceResult RunTraced(const std::function<void()>& body,
                      const std::function<void(pid_t, const TracedEvent&)>& inspect = {});

// waitpid status of `body` run in a forked child without a tracer.
int RunUntraced(const std::function<void()>& body);

}  // namespace corvantis
