#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace corvantis::minidump {

// The debugger child names each dump "<executable>-<pid>-DebugException-<counter>-<code>.dmp";
// the crash handler finds the child's dumps by that name.

// The file-name parts of the child's dump number `counter` of process `pid`: the executable's
// file name, the id, "DebugException", the counter and `codeText`, numbers in decimal.
std::vector<std::wstring> DebugExceptionDumpParts(const std::wstring& executableName, pid_t pid,
                                                  std::uint32_t counter,
                                                  const std::wstring& codeText);

// The parts joined with "-", then ".dmp".
std::wstring DumpFileName(const std::vector<std::wstring>& parts);

// Whether `fileName` names one of the child's dumps of `executableName` and `pid`, of any
// counter and code.
bool IsDebugExceptionDumpOf(const std::wstring& fileName, const std::wstring& executableName,
                            pid_t pid);

}  // namespace corvantis::minidump
