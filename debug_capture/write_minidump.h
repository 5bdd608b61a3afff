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
