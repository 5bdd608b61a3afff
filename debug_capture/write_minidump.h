#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/debug_event.h"
#include "platform/ptrace_connection.h"

// Writes a minidump of the stopped process `processId` (every thread held by `target`) beside
// the executable, named by `nameParts` joined with "-" plus ".dmp", with the exception of
// `event` on thread `threadId`; raises hresult_error when no file can be written.
void WriteMiniDump(pid_t processId, PtraceConnection& target, pid_t threadId, const DebugEventData& event,
                   const std::vector<std::wstring>& nameParts, std::int32_t dumpType);

// WriteMiniDump into `directory`. Every thread of the target is stopped first (a thread that does
// not stop in time is left out). The dump is written to a new 0600 file beside the name, then
// renamed over it: whatever had the name (a file of an earlier run, a planted symlink) is
// replaced, never written through. The dump carries the exception when the thread's context at
// it can be read, and is written again without it when anything in that attempt fails. Raises
// hresult_error (errno mapped to its Win32 error) when the file cannot be created or the dump
// cannot be written; a partly written file stays under the name.
void WriteMiniDumpInDirectory(const std::wstring& directory, PtraceConnection& target,
                              pid_t threadId, const DebugEventData& event,
                              const std::vector<std::wstring>& nameParts, std::int32_t dumpType);

// `directory`, "/", the parts joined with "-", ".dmp". Raises hresult_error
// (ERROR_FILENAME_EXCED_RANGE) when the path would not fit in 260 characters with its terminator.
std::wstring MiniDumpPath(const std::wstring& directory, const std::vector<std::wstring>& nameParts);
