#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http/http_sender.h"

namespace corvantis::sentry {

class Database;

// Far enough for any quota window, near enough that adding it to a clock cannot overflow.
inline constexpr std::chrono::seconds kLongestRateLimit{366 * 24 * 3600};

struct RateLimit {
  std::string Category;  // "error", "attachment", ...; empty for every category
  std::chrono::seconds Delay;
};

// The limits one answer sets: X-Sentry-Rate-Limits on any status, 2xx included; a 429 that names
// none there stops every category for its Retry-After (seconds or an HTTP date, counted from
// `now`), 60 s when it gives none. Delays lie within [0, kLongestRateLimit]; categories are
// printable ASCII without blanks, at most a few dozen.
std::vector<RateLimit> ReadRateLimits(const http::HttpResponse& response,
                                      std::chrono::system_clock::time_point now);

// What the event service asked not to be sent for now, by data category. With a database the
// limits outlive the process: they start from what is stored there and every change is stored.
// Safe to share between threads.
class RateLimits {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  explicit RateLimits(const Database* database = nullptr,
                      Clock clock = std::chrono::system_clock::now);

  // Learns from one answer. A later end never gives way to an earlier one.
  void Update(const http::HttpResponse& response);
  // Whether any item of the envelope may not be sent now. An event counts as "error" or
  // "default" (the service's names for events with and without an exception). Text that is not
  // an envelope is not limited.
  bool Limits(std::string_view envelope) const;
  // Whether nothing at all may be sent now.
  bool LimitsAll() const;
  // The earliest end of a limit still running; nullopt when none runs.
  std::optional<std::chrono::system_clock::time_point> NextEnd() const;

 private:
  bool IsLimited(std::string_view category, std::chrono::system_clock::time_point now) const;
  void Load();
  void Save() const;

  const Database* database_;
  Clock clock_;
  mutable std::mutex mutex_;
  std::map<std::string, std::chrono::system_clock::time_point, std::less<>> until_;
};

}  // namespace corvantis::sentry
