#pragma once

#include <sys/types.h>

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

// The newest of the debugger child's dumps of `program` and `pid` in `folder`.
std::optional<std::filesystem::path> NewestDebuggerDump(const std::filesystem::path& folder,
                                                        const std::string& program, pid_t pid);

}  // namespace corvantis::sentry
