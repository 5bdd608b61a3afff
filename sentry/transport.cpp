#include "sentry/transport.h"

#include <algorithm>
#include <utility>

namespace corvantis::sentry {

using std::chrono::steady_clock;

Transport::Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn,
                     std::shared_ptr<const Database> database, TransportLimits limits)
    : sender_(std::move(sender)),
      dsn_(std::move(dsn)),
      database_(std::move(database)),
      limits_(limits) {
  worker_ = std::thread([this] { Run(); });
}

Transport::~Transport() { Shutdown(std::chrono::milliseconds(0)); }

bool Transport::Enqueue(std::string envelope) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_ || queue_.size() >= limits_.maxQueued) return false;
    queue_.push_back(std::move(envelope));
  }
  wake_.notify_one();
  return true;
}

std::size_t Transport::Shutdown(std::chrono::milliseconds budget) {
  std::deque<std::string> unsent;
  {
    std::unique_lock lock(mutex_);
    if (joined_) return 0;
    if (!stopping_) {
      stopping_ = true;
      deadline_ = steady_clock::now() + budget;
    }
    wake_.notify_all();
    idle_.wait_until(lock, deadline_, [this] { return finished_; });
    unsent.swap(queue_);
    cancel_ = true;
    wake_.notify_all();
  }
  worker_.join();
  std::size_t lost = 0;
  for (const std::string& envelope : unsent) lost += Keep(envelope) ? 0 : 1;
  const std::lock_guard lock(mutex_);
  joined_ = true;
  return lost + lost_;
}

long Transport::NextTimeLimit() {
  const std::lock_guard lock(mutex_);
  if (cancel_) return 0;
  if (!stopping_) return limits_.totalTimeoutMs;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline_ - steady_clock::now()).count();
  return std::max(0L, std::min(limits_.totalTimeoutMs, static_cast<long>(left)));
}

void Transport::SendPendingFiles() {
  for (const auto& path : database_->ListPending()) {
    const long totalMs = NextTimeLimit();
    if (totalMs <= 0) return;
    std::optional<ClaimedEnvelope> claimed = database_->Claim(path);
    if (!claimed) continue;
    SendClaimed(*database_, *claimed, *sender_, dsn_, limits_.connectTimeoutMs, totalMs,
                &cancel_);
  }
}

bool Transport::Keep(const std::string& envelope) {
  return database_ && database_->Store(envelope).has_value();
}

void Transport::Run() {
  try {
    if (database_) SendPendingFiles();
  } catch (...) {
    // A folder that cannot be listed leaves its files for the next start.
  }
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) break;
    std::string envelope = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    const long totalMs = NextTimeLimit();
    const Delivery delivery =
        totalMs <= 0 ? Delivery::kFailed
                     : PostEnvelope(*sender_, dsn_, envelope, limits_.connectTimeoutMs, totalMs,
                                    &cancel_);
    // Only what the shutdown cut off counts as lost; earlier failures are the network's.
    const bool lost = delivery == Delivery::kFailed && !Keep(envelope) && cancel_;
    lock.lock();
    if (lost) ++lost_;
    if (totalMs <= 0) break;
  }
  finished_ = true;
  idle_.notify_all();
}

}  // namespace corvantis::sentry
