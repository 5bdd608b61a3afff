#pragma once

#include <sys/types.h>

#include "sentry/crash_request.h"

namespace corvantis::sentry {

// The handler process's work on one crash, in two steps around the acknowledgement.
class CrashDelegate {
 public:
  virtual ~CrashDelegate() = default;
  // Everything that needs the crashed process alive (attaching, reading, the minidump) and the
  // report kept safe on disk.
  virtual void Capture(const CrashRequest& request) = 0;
  // Runs once the crashed process may die: sending.
  virtual void Deliver() = 0;
};

// Serves the channel `fd` from the process `client`: returns when the channel closes (the
// client ended without crashing) or after one crash was captured, acknowledged and delivered.
// Requests that are malformed or come from another process (a forked child) are acknowledged
// and otherwise ignored. Returns true when a crash was handled.
bool ServeCrashChannel(int fd, pid_t client, CrashDelegate& delegate);

}  // namespace corvantis::sentry
