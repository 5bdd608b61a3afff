#pragma once

#include <optional>
#include <string>

#include "sentry/crash_request.h"

namespace corvantis::sentry {

// Makes the minidump of a crashed process that waits in its signal handler.
class MinidumpSource {
 public:
  virtual ~MinidumpSource() = default;
  // The dump's bytes; nullopt when none can be had (e.g. another tracer holds the process and
  // left no dump of its own).
  virtual std::optional<std::string> Write(const CrashRequest& request) = 0;
};

}  // namespace corvantis::sentry
