#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/debug_event.h"
#include "platform/ptrace_connection.h"

namespace corvantis {

// One dump the debugger child asks for: of the process `Target` holds stopped, with the exception
// of `Event` on thread `ThreadId` (0: none), named by `NameParts`, of MINIDUMP_TYPE `DumpType`.
struct MiniDumpRequest {
  PtraceConnection& Target;
  pid_t ThreadId;
  const DebugEventData& Event;
  const std::vector<std::wstring>& NameParts;
  std::int32_t DumpType;
};

// Writes the requested minidump beside the executable; raises hresult_error when no file can be
// written.
void WriteMiniDump(const MiniDumpRequest& request);

// WriteMiniDump into `directory`. Every thread of the target is stopped first (a thread that does
// not stop in time is left out). The dump is written to a new 0600 file beside the name, then
// renamed over it: whatever had the name (a file of an earlier run, a planted symlink) is
// replaced, never written through. The dump carries the exception when the thread's context at
// it can be read, and is written again without it when anything in that attempt fails. Raises
// hresult_error (errno mapped to its Win32 error) when the file cannot be created or the dump
// cannot be written; a partly written file stays under the name.
void WriteMiniDumpInDirectory(const std::wstring& directory, const MiniDumpRequest& request);

// `directory`, "/", the parts joined with "-", ".dmp". Raises hresult_error
// (ERROR_FILENAME_EXCED_RANGE) when the path would not fit in 260 characters with its terminator.
std::wstring MiniDumpPath(const std::wstring& directory,
                          const std::vector<std::wstring>& nameParts);

}  // namespace corvantis
