#pragma once
#include <sys/types.h>

namespace corvantis {

// The process tracing `pid` (this process for 0): the TracerPid of its /proc status; 0 when none
// is or the file cannot be read. Async-signal-safe.
pid_t TracerPid(pid_t pid);

// True while a debugger (a tracer) is attached to this process. Reads /proc/self/status each
// time; async-signal-safe.
bool IsDebuggerPresent();

// The same question for frequent callers (every throw, every trace line): a "no" is reused for
// up to 20 ms, so a debugger that attaches later sees events from 20 ms after its attach on.
// IsDebuggerPresent refreshes the answer; a forked child starts afresh. Async-signal-safe.
bool DebuggerMayBePresent();

// Hands a text to an attached debugger, which shows it as one line; nothing happens without one.
void OutputDebugStringW(const wchar_t* text);
void OutputDebugStringA(const char* text);

}  // namespace corvantis
