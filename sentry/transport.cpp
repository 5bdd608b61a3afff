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

}  // namespace

struct Transport::Worker {
  Worker(std::shared_ptr<http::HttpSender> httpSender, Dsn endpoint,
         std::shared_ptr<const Database> store, TransportLimits transportLimits)
      : Sender(std::move(httpSender)),
        Dsn(std::move(endpoint)),
        Database(std::move(store)),
        Limits(transportLimits) {}

  void Run();
  // The total time limit for the next request, or 0 when the shutdown has cancelled sending.
  long NextTimeLimit();
  void SendPendingFiles();
  // Keeps an envelope that got no answer; false when it is lost.
  bool Keep(const std::string& envelope) const {
    return Database && Database->Store(envelope).has_value();
  }

  const std::shared_ptr<http::HttpSender> Sender;
  const sentry::Dsn Dsn;
  const std::shared_ptr<const sentry::Database> Database;
  const TransportLimits Limits;
  sentry::RateLimits RateLimits;

  std::mutex Mutex;
  std::condition_variable Wake;
  std::condition_variable Idle;
  std::deque<std::string> Queue;
  bool Stopping = false;
  bool Finished = false;
  bool Holding = false;  // an envelope taken from the queue is on its way
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
  for (const auto& path : Database->ListPending()) {
    const long totalMs = NextTimeLimit();
    if (totalMs <= 0) return;
    std::optional<ClaimedEnvelope> claimed = Database->Claim(path);
    if (!claimed) continue;
    SendClaimed(*Database, *claimed, *Sender, Dsn, Limits.ConnectTimeoutMs, totalMs, &Cancel,
                &RateLimits);
  }
}

void Transport::Worker::Run() {
  try {
    if (Database) SendPendingFiles();
  } catch (...) {
    // A folder that cannot be listed leaves its files for the next start.
  }
  std::unique_lock lock(Mutex);
  for (;;) {
    Wake.wait(lock, [this] { return Stopping || !Queue.empty(); });
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
    // Only what the shutdown cut off counts as lost; earlier failures are the network's.
    const bool lostIt = delivery == Delivery::kFailed && !Keep(envelope) && Cancel;
    lock.lock();
    Holding = false;
    if (lostIt) ++Lost;
    if (totalMs <= 0) break;
  }
  Finished = true;
  Idle.notify_all();
}

Transport::Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn,
                     std::shared_ptr<const Database> database, TransportLimits limits)
    : worker_(std::make_shared<Worker>(std::move(sender), std::move(dsn), std::move(database),
                                       limits)) {
  thread_ = StartThread([worker = worker_] { worker->Run(); });
}

Transport::~Transport() { Shutdown(milliseconds(0)); }

bool Transport::Enqueue(std::string envelope) {
  Worker& worker = *worker_;
  // What arrives while its kind is limited is dropped, not kept for later.
  if (!worker.RateLimits.Admit(envelope)) return false;
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
  for (std::string& envelope : unsent) {
    // Limits learnt while it waited drop it rather than keep it for the next start.
    if (worker.RateLimits.Admit(envelope) && !worker.Keep(envelope)) ++lost;
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
