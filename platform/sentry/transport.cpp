#include "platform/sentry/transport.h"

#include <algorithm>
#include <utility>

#include "platform/sentry/envelope.h"
#include "platform/sentry/ids.h"

namespace corvantis::sentry {

using std::chrono::steady_clock;

Transport::Transport(std::shared_ptr<http::HttpSender> sender, Dsn dsn, TransportLimits limits)
    : sender_(std::move(sender)), dsn_(std::move(dsn)), limits_(limits) {
  worker_ = std::thread([this] { Run(); });
}

Transport::~Transport() { Shutdown(std::chrono::milliseconds(0)); }

bool Transport::Enqueue(std::string eventIdHex, std::string eventJson) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_ || queue_.size() >= limits_.maxQueued) return false;
    queue_.push_back({std::move(eventIdHex), std::move(eventJson)});
  }
  wake_.notify_one();
  return true;
}

std::size_t Transport::Shutdown(std::chrono::milliseconds budget) {
  std::size_t dropped = 0;
  {
    std::unique_lock lock(mutex_);
    if (joined_) return 0;
    if (!stopping_) {
      stopping_ = true;
      deadline_ = steady_clock::now() + budget;
    }
    wake_.notify_all();
    idle_.wait_until(lock, deadline_, [this] { return finished_; });
    dropped = queue_.size();
    queue_.clear();
    cancel_ = true;
    wake_.notify_all();
  }
  worker_.join();
  const std::lock_guard lock(mutex_);
  joined_ = true;
  return dropped + cancelled_;
}

void Transport::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) break;
    long totalMs = limits_.totalTimeoutMs;
    if (stopping_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline_ - steady_clock::now()).count();
      if (left <= 0) break;
      totalMs = std::min(totalMs, static_cast<long>(left));
    }
    const Pending pending = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    Post(pending, totalMs);
    lock.lock();
  }
  finished_ = true;
  idle_.notify_all();
}

void Transport::Post(const Pending& pending, long totalTimeoutMs) {
  http::HttpRequest request;
  request.url = dsn_.EnvelopeUrl();
  request.method = "POST";
  request.headers = {
      {"Content-Type", "application/x-sentry-envelope"},
      {"X-Sentry-Auth", AuthHeader(dsn_)},
      {"User-Agent", std::string(kSdkName) + "/" + std::string(kSdkVersion)},
  };
  request.body =
      BuildEventEnvelope(pending.eventIdHex, dsn_.raw, NowTimestamp(), pending.eventJson);
  request.connectTimeoutMs = std::min(limits_.connectTimeoutMs, totalTimeoutMs);
  request.totalTimeoutMs = totalTimeoutMs;
  request.cancel = &cancel_;
  try {
    // Any answer ends the attempt: the event service's refusals are not worth a retry here.
    static_cast<void>(sender_->Send(request));
  } catch (const http::HttpError& error) {
    if (error.reason() == http::HttpError::Reason::kCancelled) {
      const std::lock_guard lock(mutex_);
      ++cancelled_;
    }
  } catch (...) {
    // A broken sender must not take the program down with the worker.
  }
}

}  // namespace corvantis::sentry
