#include "sentry/handler/crash_server.h"

#include <sys/socket.h>

#include <cerrno>
#include <memory>

namespace corvantis::sentry {
namespace {

void Acknowledge(int fd) {
  ssize_t sent;
  do {
    sent = send(fd, &kCrashAcknowledged, 1, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
}

}  // namespace

bool ServeCrashChannel(int fd, pid_t client, CrashDelegate& delegate) {
  // On the heap: the request holds a whole ucontext_t.
  const auto request = std::make_unique<CrashRequest>();
  for (;;) {
    const ssize_t received = recv(fd, request.get(), sizeof *request, 0);
    if (received < 0 && errno == EINTR) continue;
    if (received <= 0) return false;
    if (received != static_cast<ssize_t>(sizeof *request) ||
        request->magic != CrashRequest::kMagic || request->version != CrashRequest::kVersion ||
        request->pid != client) {
      Acknowledge(fd);
      continue;
    }
    try {
      delegate.Capture(*request);
    } catch (...) {
      // The crashed process must not wait for a report that failed.
    }
    Acknowledge(fd);
    try {
      delegate.Deliver();
    } catch (...) {
      // What was stored stays for the next start.
    }
    return true;
  }
}

}  // namespace corvantis::sentry
