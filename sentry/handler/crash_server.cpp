#include "sentry/handler/crash_server.h"

#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace corvantis::sentry {
namespace {

void Acknowledge(int fd) {
  ssize_t sent;
  do {
    sent = send(fd, &kCrashAcknowledged, 1, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
}

// Shared with the capture thread, which may outlive the wait for it.
struct CaptureRun {
  explicit CaptureRun(const CrashRequest& crash) : Request(crash) {}
  const CrashRequest Request;
  std::mutex Mutex;
  std::condition_variable Finished;
  bool Done = false;
};

// True when the delegate's capture finished within the budget.
bool CaptureWithin(CrashDelegate& delegate, const CrashRequest& request,
                   std::chrono::milliseconds budget) {
  const auto run = std::make_shared<CaptureRun>(request);
  try {
    // ptrace binds an attachment to the thread that made it, so only the process's end can
    // undo one that this thread still holds at the deadline.
    std::thread([run, &delegate] {
      try {
        delegate.Capture(run->Request);
      } catch (...) {
        // The crashed process must not wait for a report that failed.
      }
      const std::lock_guard lock(run->Mutex);
      run->Done = true;
      run->Finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock lock(run->Mutex);
  return run->Finished.wait_for(lock, budget, [&] { return run->Done; });
}

}  // namespace

ServeResult ServeCrashChannel(int fd, pid_t client, CrashDelegate& delegate,
                              std::chrono::milliseconds captureBudget) {
  // On the heap: the request holds a whole ucontext_t.
  const auto request = std::make_unique<CrashRequest>();
  for (;;) {
    const ssize_t received = recv(fd, request.get(), sizeof *request, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return ServeResult::kClosed;
    if (received != static_cast<ssize_t>(sizeof *request) ||
        request->Magic != CrashRequest::kMagic || request->Version != CrashRequest::kVersion ||
        request->Pid != client) {
      Acknowledge(fd);
      continue;
    }
    if (!CaptureWithin(delegate, *request, captureBudget)) {
      try {
        delegate.CaptureTimedOut(*request);
      } catch (...) {
        // Nothing is kept; the process is let go all the same.
      }
      Acknowledge(fd);
      return ServeResult::kCaptureTimedOut;
    }
    Acknowledge(fd);
    try {
      delegate.Deliver();
    } catch (...) {
      // What was stored stays for the next start.
    }
    return ServeResult::kHandled;
  }
}

}  // namespace corvantis::sentry
