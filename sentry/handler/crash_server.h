#pragma once

#include <sys/types.h>

#include <chrono>

#include "sentry/crash_request.h"

namespace corvantis::sentry {

// The handler process's work on one crash, in steps around the acknowledgement.
class CrashDelegate {
 public:
  virtual ~CrashDelegate() = default;
  // Everything that needs the crashed process alive (attaching, reading, the minidump) and the
  // report kept safe on disk. Runs on a thread of its own and may outlast its budget.
  virtual void Capture(const CrashRequest& request) = 0;
  // The budget ran out while Capture still runs: keep what can be had without the process (the
  // event without its dump), unless Capture has begun to keep its own.
  virtual void CaptureTimedOut(const CrashRequest& request) = 0;
  // Runs once the crashed process may die, after a Capture that finished: sending.
  virtual void Deliver() = 0;
};

enum class ServeResult {
  kClosed,           // the client ended without crashing
  kHandled,          // one crash captured, acknowledged and delivered
  kCaptureTimedOut,  // acknowledged without its dump; Capture still runs
};

// Serves the channel `fd` from the process `client` until it closes or one crash was handled.
// Requests that are malformed or come from another process (a forked child) are acknowledged
// and otherwise ignored. A capture that takes longer than `captureBudget` is acknowledged
// anyway; the caller must then end this process, which also frees the crashed one from any
// ptrace stop that Capture's thread still holds.
ServeResult ServeCrashChannel(
    int fd, pid_t client, CrashDelegate& delegate,
    std::chrono::milliseconds captureBudget = std::chrono::milliseconds(kCaptureBudgetMs));

}  // namespace corvantis::sentry
