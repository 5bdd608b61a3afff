#include "sentry/transport.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <utility>

#include "platform/signal_stack.h"
#include "sentry/rate_limits.h"

namespace corvantis::sentry {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

// How long before the end of a shutdown the request in flight is cancelled, so that it can
// return (libcurl looks at the flag every 50 ms) and its envelope be stored in time.
constexpr milliseconds kCancelLead{200};
// How often a worker with envelopes waiting on a limit looks at the clock again, which may be
// set meanwhile.
constexpr milliseconds kLimitRecheck{1000};

}  // namespace

struct Transport::Worker {
  Worker(std::shared_ptr<http::HttpSender> httpSender, Dsn endpoint,
         std::shared_ptr<const Database> store, TransportLimits transportLimits,
         sentry::RateLimits::Clock clock)
      : Sender(std::move(httpSender)),
        Dsn(std::move(endpoint)),
        Database(std::move(store)),
        Limits(transportLimits),
        Now(std::move(clock)),
        RateLimits(Database.get(), Now) {}

  void Run();
  // The total time limit for the next request, or 0 when the shutdown has cancelled sending.
  long NextTimeLimit();
  void SendPendingFiles();
  // Until there is something to send: a queued envelope, the shutdown, or the end of the limit
  // that stored envelopes wait on.
  void WaitForWork(std::unique_lock<std::mutex>& lock);
  // Keeps an envelope that got no answer or may not be sent yet; false when it is lost.
  bool Keep(const std::string& envelope) const {
    return Database && Database->Store(envelope).has_value();
  }

  const std::shared_ptr<http::HttpSender> Sender;
  const sentry::Dsn Dsn;
  const std::shared_ptr<const sentry::Database> Database;
  const TransportLimits Limits;
  const sentry::RateLimits::Clock Now;
  sentry::RateLimits RateLimits;

  std::mutex Mutex;
  std::condition_variable Wake;
  std::condition_variable Idle;
  std::deque<std::string> Queue;
  bool Stopping = false;
  bool Finished = false;
  bool Holding = false;  // an envelope taken from the queue is on its way
  bool Waiting = false;  // stored envelopes wait for a limit to end
  steady_clock::time_point CancelAt;
  std::size_t Lost = 0;
  std::atomic<bool> Cancel{false};
};

long Transport::Worker::NextTimeLimit() {
  const std::lock_guard lock(Mutex);
  if (Cancel) return 0;
  if (!Stopping) return Limits.TotalTimeoutMs;
  const auto left = std::chrono::ceil<milliseconds>(CancelAt - steady_clock::now()).count();
  return std::max(0L, std::min(Limits.TotalTimeoutMs, static_cast<long>(left)));
}

void Transport::Worker::SendPendingFiles() {
  if (!Database) return;
  bool waiting = false;
  try {
    for (const auto& path : Database->ListPending()) {
      const long totalMs = NextTimeLimit();
      if (totalMs <= 0) break;
      // Not even read while everything waits.
      if (RateLimits.LimitsAll()) {
        waiting = true;
        break;
      }
      std::optional<ClaimedEnvelope> claimed = Database->Claim(path);
      if (!claimed) continue;
      waiting = SendClaimed(*Database, *claimed, *Sender, Dsn, Limits.ConnectTimeoutMs, totalMs,
                            &Cancel, &RateLimits) == Delivery::kLimited ||
                waiting;
    }
  } catch (...) {
    // A folder that cannot be listed leaves its files for the next start.
  }
  const std::lock_guard lock(Mutex);
  Waiting = Waiting || waiting;
}

void Transport::Worker::WaitForWork(std::unique_lock<std::mutex>& lock) {
  while (!Stopping && Queue.empty()) {
    if (!Waiting) {
      Wake.wait(lock);
      continue;
    }
    const std::optional<std::chrono::system_clock::time_point> end = RateLimits.NextEnd();
    if (!end) return;
    const auto left = std::chrono::ceil<milliseconds>(*end - Now());
    Wake.wait_for(lock, std::clamp(left, milliseconds(1), kLimitRecheck));
  }
}

void Transport::Worker::Run() {
  SendPendingFiles();
  std::unique_lock lock(Mutex);
  for (;;) {
    WaitForWork(lock);
    if (Queue.empty() && !Stopping) {
      // A limit ended: what waited goes first, oldest first.
      Waiting = false;
      lock.unlock();
      SendPendingFiles();
      lock.lock();
      continue;
    }
    if (Queue.empty()) break;
    std::string envelope = std::move(Queue.front());
    Queue.pop_front();
    Holding = true;
    lock.unlock();
    const long totalMs = NextTimeLimit();
    const Delivery delivery = totalMs <= 0
                                  ? Delivery::kFailed
                                  : PostEnvelope(*Sender, Dsn, envelope, Limits.ConnectTimeoutMs,
                                                 totalMs, &Cancel, &RateLimits);
    const bool keep = delivery == Delivery::kFailed || delivery == Delivery::kLimited;
    const bool kept = keep && Keep(envelope);
    lock.lock();
    Holding = false;
    // Only what the shutdown cut off counts as lost; earlier failures are the network's.
    if (keep && !kept && delivery == Delivery::kFailed && Cancel) ++Lost;
    if (kept && delivery == Delivery::kLimited) Waiting = true;
    if (totalMs <= 0) break;
  }
  Finished = true;
  Idle.notify_all();
}

Transport::Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn,
                     std::shared_ptr<const Database> database, TransportLimits limits,
                     sentry::RateLimits::Clock clock)
    : worker_(std::make_shared<Worker>(std::move(sender), std::move(dsn), std::move(database),
                                       limits, std::move(clock))) {
  thread_ = StartThread([worker = worker_] { worker->Run(); });
}

Transport::~Transport() { Shutdown(milliseconds(0)); }

bool Transport::Enqueue(std::string envelope) {
  Worker& worker = *worker_;
  {
    const std::lock_guard lock(worker.Mutex);
    if (worker.Stopping || worker.Queue.size() >= worker.Limits.MaxQueued) return false;
    worker.Queue.push_back(std::move(envelope));
  }
  worker.Wake.notify_one();
  return true;
}

std::size_t Transport::Shutdown(milliseconds budget) {
  std::size_t lost = 0;
  std::call_once(shutdown_, [&] { lost = ShutdownOnce(budget); });
  return lost;
}

std::size_t Transport::ShutdownOnce(milliseconds budget) {
  Worker& worker = *worker_;
  const auto end = steady_clock::now() + budget;
  std::deque<std::string> unsent;
  {
    std::unique_lock lock(worker.Mutex);
    worker.Stopping = true;
    worker.CancelAt = end - std::min(kCancelLead, budget / 2);
    worker.Wake.notify_all();
    worker.Idle.wait_until(lock, worker.CancelAt, [&] { return worker.Finished; });
    unsent.swap(worker.Queue);
    worker.Cancel = true;
  }
  std::size_t lost = 0;
  for (const std::string& envelope : unsent) {
    if (!worker.Keep(envelope)) ++lost;
  }
  std::unique_lock lock(worker.Mutex);
  worker.Idle.wait_until(lock, end, [&] { return worker.Finished; });
  if (worker.Finished) {
    lock.unlock();
    thread_.join();
    lock.lock();
  } else {
    thread_.detach();
    if (worker.Holding) ++lost;
  }
  return lost + worker.Lost;
}

}  // namespace corvantis::sentry
