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
      : sender(std::move(httpSender)),
        dsn(std::move(endpoint)),
        database(std::move(store)),
        limits(transportLimits) {}

  void Run();
  // The total time limit for the next request, or 0 when the shutdown has cancelled sending.
  long NextTimeLimit();
  void SendPendingFiles();
  // Keeps an envelope that got no answer; false when it is lost.
  bool Keep(const std::string& envelope) const {
    return database && database->Store(envelope).has_value();
  }

  const std::shared_ptr<http::HttpSender> sender;
  const Dsn dsn;
  const std::shared_ptr<const Database> database;
  const TransportLimits limits;
  RateLimits rateLimits;

  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  std::deque<std::string> queue;
  bool stopping = false;
  bool finished = false;
  bool holding = false;  // an envelope taken from the queue is on its way
  steady_clock::time_point cancelAt;
  std::size_t lost = 0;
  std::atomic<bool> cancel{false};
};

long Transport::Worker::NextTimeLimit() {
  const std::lock_guard lock(mutex);
  if (cancel) return 0;
  if (!stopping) return limits.totalTimeoutMs;
  const auto left =
      std::chrono::ceil<milliseconds>(cancelAt - steady_clock::now()).count();
  return std::max(0L, std::min(limits.totalTimeoutMs, static_cast<long>(left)));
}

void Transport::Worker::SendPendingFiles() {
  for (const auto& path : database->ListPending()) {
    const long totalMs = NextTimeLimit();
    if (totalMs <= 0) return;
    std::optional<ClaimedEnvelope> claimed = database->Claim(path);
    if (!claimed) continue;
    SendClaimed(*database, *claimed, *sender, dsn, limits.connectTimeoutMs, totalMs, &cancel,
                &rateLimits);
  }
}

void Transport::Worker::Run() {
  try {
    if (database) SendPendingFiles();
  } catch (...) {
    // A folder that cannot be listed leaves its files for the next start.
  }
  std::unique_lock lock(mutex);
  for (;;) {
    wake.wait(lock, [this] { return stopping || !queue.empty(); });
    if (queue.empty()) break;
    std::string envelope = std::move(queue.front());
    queue.pop_front();
    holding = true;
    lock.unlock();
    const long totalMs = NextTimeLimit();
    const Delivery delivery =
        totalMs <= 0 ? Delivery::kFailed
                     : PostEnvelope(*sender, dsn, envelope, limits.connectTimeoutMs, totalMs,
                                    &cancel, &rateLimits);
    // Only what the shutdown cut off counts as lost; earlier failures are the network's.
    const bool lostIt = delivery == Delivery::kFailed && !Keep(envelope) && cancel;
    lock.lock();
    holding = false;
    if (lostIt) ++lost;
    if (totalMs <= 0) break;
  }
  finished = true;
  idle.notify_all();
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
  if (!worker.rateLimits.Admit(envelope)) return false;
  {
    const std::lock_guard lock(worker.mutex);
    if (worker.stopping || worker.queue.size() >= worker.limits.maxQueued) return false;
    worker.queue.push_back(std::move(envelope));
  }
  worker.wake.notify_one();
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
    std::unique_lock lock(worker.mutex);
    worker.stopping = true;
    worker.cancelAt = end - std::min(kCancelLead, budget / 2);
    worker.wake.notify_all();
    worker.idle.wait_until(lock, worker.cancelAt, [&] { return worker.finished; });
    unsent.swap(worker.queue);
    worker.cancel = true;
  }
  std::size_t lost = 0;
  for (std::string& envelope : unsent) {
    // Limits learnt while it waited drop it rather than keep it for the next start.
    if (worker.rateLimits.Admit(envelope) && !worker.Keep(envelope)) ++lost;
  }
  std::unique_lock lock(worker.mutex);
  worker.idle.wait_until(lock, end, [&] { return worker.finished; });
  if (worker.finished) {
    lock.unlock();
    thread_.join();
    lock.lock();
  } else {
    thread_.detach();
    if (worker.holding) ++lost;
  }
  return lost + worker.lost;
}

}  // namespace corvantis::sentry
