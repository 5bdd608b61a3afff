#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/http/http_sender.h"

namespace corvantis {

namespace fakes {

// Records requests (a recorded cancel pointer is only for comparing with null) and answers each
// with the status and headers set, 200 and none at first, or refuses it while failures are due.
// While held, Send blocks the way a hanging server would: until the request's cancel flag or its
// own total time limit ends it, or the test releases it; held stubbornly, only the release ends
// it, as with a sender that ignores both.
class FakeHttpSender final : public corvantis::http::HttpSender {
 public:
  using Headers = std::vector<std::pair<std::string, std::string>>;

  corvantis::http::HttpResponse Send(const corvantis::http::HttpRequest& request) override {
    using corvantis::http::HttpError;
    if (onSend_) onSend_();
    std::unique_lock lock(mutex_);
    sent_.push_back(request);
    changed_.notify_all();
    const auto start = std::chrono::steady_clock::now();
    const auto timedOut = [&] {
      return request.TotalTimeoutMs > 0 && std::chrono::steady_clock::now() - start >=
                                               std::chrono::milliseconds(request.TotalTimeoutMs);
    };
    while (held_) {
      if (!stubborn_ && request.Cancel != nullptr && request.Cancel->load())
        throw HttpError(HttpError::Reason::kCancelled, "cancelled");
      if (!stubborn_ && timedOut()) throw HttpError(HttpError::Reason::kTimeout, "timed out");
      changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (failuresLeft_ > 0) {
      --failuresLeft_;
      throw HttpError(HttpError::Reason::kConnect, "refused");
    }
    return {status_, "", headers_};
  }

  void Hold(bool stubborn = false) {
    const std::lock_guard lock(mutex_);
    held_ = true;
    stubborn_ = stubborn;
  }
  void Release() {
    const std::lock_guard lock(mutex_);
    held_ = false;
    changed_.notify_all();
  }
  void FailNext(int count) {
    const std::lock_guard lock(mutex_);
    failuresLeft_ = count;
  }
  void AnswerWith(long status, Headers headers = {}) {
    const std::lock_guard lock(mutex_);
    status_ = status;
    headers_ = std::move(headers);
  }
  // Runs at the start of every Send, on the sending thread; set it before anything sends.
  void OnSend(std::function<void()> onSend) { onSend_ = std::move(onSend); }

  bool WaitForRequests(std::size_t count,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return sent_.size() >= count; });
  }
  std::vector<corvantis::http::HttpRequest> Sent() {
    const std::lock_guard lock(mutex_);
    return sent_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<corvantis::http::HttpRequest> sent_;
  std::function<void()> onSend_;
  bool held_ = false;
  bool stubborn_ = false;
  int failuresLeft_ = 0;
  long status_ = 200;
  Headers headers_;
};

}  // namespace fakes

}  // namespace corvantis
