#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/http/http_sender.h"
#include "sentry/database.h"
#include "sentry/delivery.h"
#include "sentry/dsn.h"

namespace corvantis::sentry {

// Posts envelopes to the DSN's endpoint from one worker thread. With a database, the worker first
// sends what earlier runs left there, and what fails now is stored there for the next start;
// without one, failures are dropped.
class Transport {
 public:
  Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn,
            std::shared_ptr<const Database> database, TransportLimits limits = {});
  // Same as Shutdown with no time left.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Queues finished envelope bytes without waiting on the network; false when dropped (queue
  // full or shut down).
  bool Enqueue(std::string envelope);
  // Sends what is queued for at most `budget` (cutting the time limits of requests to what is
  // left, cancelling one still in flight at the end), stores the rest in the database, and joins
  // the worker. Returns how many envelopes were lost (neither sent nor stored). Later calls
  // return 0.
  std::size_t Shutdown(std::chrono::milliseconds budget);

 private:
  void Run();
  // The total time limit for the next request, or 0 when the shutdown budget is spent.
  long NextTimeLimit();
  void SendPendingFiles();
  // Keeps an envelope that could not be delivered; false when it is lost.
  bool Keep(const std::string& envelope);

  const std::shared_ptr<http::HttpSender> sender_;
  const Dsn dsn_;
  const std::shared_ptr<const Database> database_;
  const TransportLimits limits_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<std::string> queue_;
  bool stopping_ = false;
  bool finished_ = false;
  bool joined_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::size_t lost_ = 0;
  std::atomic<bool> cancel_{false};
  std::thread worker_;
};

}  // namespace corvantis::sentry
