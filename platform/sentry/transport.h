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
#include "platform/sentry/dsn.h"

namespace corvantis::sentry {

struct TransportLimits {
  long connectTimeoutMs = 5000;
  long totalTimeoutMs = 10000;
  std::size_t maxQueued = 100;
};

// Posts event envelopes to the DSN's endpoint from one worker thread. Failures are dropped.
class Transport {
 public:
  Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn, TransportLimits limits = {});
  // Same as Shutdown with no time left.
  ~Transport();
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Queues without waiting on the network; false when dropped (queue full or shut down).
  bool Enqueue(std::string eventIdHex, std::string eventJson);
  // Sends what is queued for at most `budget` (cutting the time limits of requests to what is
  // left, cancelling one still in flight at the end), drops the rest and joins the worker.
  // Returns how many events were dropped by this. Later calls return 0.
  std::size_t Shutdown(std::chrono::milliseconds budget);

 private:
  struct Pending {
    std::string eventIdHex;
    std::string eventJson;
  };

  void Run();
  void Post(const Pending& pending, long totalTimeoutMs);

  const std::shared_ptr<http::HttpSender> sender_;
  const Dsn dsn_;
  const TransportLimits limits_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Pending> queue_;
  bool stopping_ = false;
  bool finished_ = false;
  bool joined_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::size_t cancelled_ = 0;
  std::atomic<bool> cancel_{false};
  std::thread worker_;
};

}  // namespace corvantis::sentry
