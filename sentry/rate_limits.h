#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/http/http_sender.h"

namespace corvantis::sentry {

// What the event service asked not to be sent for now, by data category ("error", "attachment",
// ...; the empty name stands for all of them). Lasts for the process; safe to share between
// threads.
class RateLimits {
 public:
  using Clock = std::chrono::steady_clock;

  // Learns from one answer: X-Sentry-Rate-Limits on any status, 2xx included; a 429 that names no
  // limit there stops every category for its Retry-After (seconds or an HTTP date), 60 s when it
  // gives none. A later expiry never gives way to an earlier one.
  void Update(const http::HttpResponse& response, Clock::time_point now = Clock::now());

  // Fits an envelope to the limits: false when it may not be sent at all (its event is limited,
  // or every item is); otherwise limited items (an attachment) are taken out of it. Text that is
  // not an envelope is left alone.
  bool Admit(std::string& envelope, Clock::time_point now = Clock::now()) const;

 private:
  void Limit(const std::string& category, Clock::time_point until);
  bool IsLimited(std::string_view category, Clock::time_point now) const;

  mutable std::mutex mutex_;
  std::map<std::string, Clock::time_point, std::less<>> until_;
};

}  // namespace corvantis::sentry
