#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/http/http_sender.h"
#include "sentry/os_info.h"

namespace corvantis::sentry::testing {

struct SentRequest {
  std::string url;
  std::string method;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  long connectTimeoutMs;
  long totalTimeoutMs;
  bool hadCancelFlag;

  std::string Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
      if (key == name) return value;
    }
    return "<missing>";
  }
};

// Records requests. While held, Send blocks the way a hanging server would: until the
// request's cancel flag or its own total time limit ends it, or the test releases it; held
// stubbornly, only the release ends it, as with a sender that ignores both.
class FakeHttpSender final : public http::HttpSender {
 public:
  http::HttpResponse Send(const http::HttpRequest& request) override {
    std::unique_lock lock(mutex_);
    sent_.push_back({request.url, request.method, request.headers, request.body,
                     request.connectTimeoutMs, request.totalTimeoutMs, request.cancel != nullptr});
    changed_.notify_all();
    const auto start = std::chrono::steady_clock::now();
    while (held_) {
      if (stubborn_) {
        changed_.wait_for(lock, std::chrono::milliseconds(5));
        continue;
      }
      if (request.cancel != nullptr && request.cancel->load()) {
        throw http::HttpError(http::HttpError::Reason::kCancelled, "cancelled");
      }
      if (request.totalTimeoutMs > 0 &&
          std::chrono::steady_clock::now() - start >=
              std::chrono::milliseconds(request.totalTimeoutMs)) {
        throw http::HttpError(http::HttpError::Reason::kTimeout, "timed out");
      }
      changed_.wait_for(lock, std::chrono::milliseconds(5));
    }
    if (failuresLeft_ > 0) {
      --failuresLeft_;
      throw http::HttpError(http::HttpError::Reason::kConnect, "refused");
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
  void AnswerWith(long status, std::vector<std::pair<std::string, std::string>> headers = {}) {
    const std::lock_guard lock(mutex_);
    status_ = status;
    headers_ = std::move(headers);
  }
  bool WaitForRequests(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return sent_.size() >= count; });
  }
  std::vector<SentRequest> Sent() {
    const std::lock_guard lock(mutex_);
    return sent_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SentRequest> sent_;
  bool held_ = false;
  bool stubborn_ = false;
  int failuresLeft_ = 0;
  long status_ = 200;
  std::vector<std::pair<std::string, std::string>> headers_;
};

class FakeOsInfoSource final : public OsInfoSource {
 public:
  OsInfo Read() override { return {"Linux", "6.1.0", "#1 SMP Test", "6.1.0-test"}; }
};

}  // namespace corvantis::sentry::testing
