#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/http/http_sender.h"
#include "sentry/database.h"
#include "sentry/delivery.h"
#include "sentry/dsn.h"
#include "sentry/rate_limits.h"

namespace corvantis::sentry {

// Posts envelopes to the DSN's endpoint from one worker thread, obeying the service's rate limits.
// With a database, the worker first sends what earlier runs left there, oldest first; what gets no
// answer or may not be sent for the limits is stored there, and sent when a limit ends or at a
// later start; the limits themselves are kept there too. Without one, such envelopes are dropped.
class Transport {
 public:
  Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn,
            std::shared_ptr<const Database> database, TransportLimits limits = {},
            RateLimits::Clock clock = std::chrono::system_clock::now);
  // Same as Shutdown with no time left.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Queues finished envelope bytes without waiting on the network; false when dropped (queue
  // full, or shut down).
  bool Enqueue(std::string envelope);
  // Returns within `budget`: sends what is queued meanwhile (cutting the time limits of requests
  // to what is left), cancels a request still in flight shortly before the end, and stores what
  // is still queued in the database. A worker that has not returned by the end (a sender or a
  // file system that ignores the cancel) is left to finish on its own, and the envelope it holds
  // counts as lost. Returns how many envelopes were lost (neither sent nor stored). Later calls
  // return 0.
  std::size_t Shutdown(std::chrono::milliseconds budget);

 private:
  struct Worker;

  std::size_t ShutdownOnce(std::chrono::milliseconds budget);

  // Shared with the worker thread, which may outlive this object.
  const std::shared_ptr<Worker> worker_;
  std::thread thread_;
  std::once_flag shutdown_;
};

}  // namespace corvantis::sentry
