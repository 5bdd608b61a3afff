#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "sentry/handler/minidump_source.h"

namespace corvantis::sentry {

// The live process's dump; when another tracer (the debugger child) holds the process, the
// newest dump that child wrote for it instead.
class ProcessMinidumpSource final : public MinidumpSource {
 public:
  std::optional<std::string> Write(const CrashRequest& request) override;
};

// What a debugger child's dump must be to be taken as the user's: anyone may plant files beside
// a program in a shared folder.
struct DebuggerDumpBounds {
  uid_t Owner = 0;
  std::size_t MaxBytes = 0;
  // Last written within these: after the program started, and not dated ahead.
  std::chrono::system_clock::time_point NotBefore;
  std::chrono::system_clock::time_point NotAfter;
};

// The bytes of the newest of the debugger child's dumps of `program` and `pid` in `folder` that
// is a regular file of bounds.Owner with one link, within the size and the time bounds; read
// without following a link or waiting on a FIFO. nullopt when there is none.
std::optional<std::string> ReadDebuggerDump(const std::filesystem::path& folder,
                                            const std::string& program, pid_t pid,
                                            const DebuggerDumpBounds& bounds);

// When the process `pid` started, from /proc; nullopt when it cannot be read.
std::optional<std::chrono::system_clock::time_point> ProcessStartTime(pid_t pid);

}  // namespace corvantis::sentry
