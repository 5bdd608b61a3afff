#include "sentry/rate_limits.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "sentry/envelope.h"

namespace corvantis::sentry {
namespace {

using std::chrono::seconds;

constexpr seconds kDefaultRetryAfter{60};
// Far enough for any quota window, near enough that adding it to a clock cannot overflow.
constexpr seconds kLongestLimit{366 * 24 * 3600};

std::string WithoutBlanks(std::string_view text) {
  std::string result;
  for (const char c : text) {
    if (c != ' ' && c != '\t') result.push_back(c);
  }
  return result;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t at = 0;
  for (;;) {
    const size_t end = text.find(separator, at);
    parts.push_back(text.substr(at, end == text.npos ? text.npos : end - at));
    if (end == text.npos) return parts;
    at = end + 1;
  }
}

// Whole or fractional seconds, rounded up.
std::optional<seconds> ParseSeconds(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value) || value < 0) {
    return std::nullopt;
  }
  const double capped = std::min(std::ceil(value), static_cast<double>(kLongestLimit.count()));
  return seconds(static_cast<long long>(capped));
}

// Retry-After: seconds, or the HTTP date after which to try again.
seconds RetryAfter(const std::string& text) {
  if (const std::optional<seconds> delay = ParseSeconds(text)) return *delay;
  tm date{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &date);
  if (end == nullptr || *end != '\0') return kDefaultRetryAfter;
  const auto left =
      std::chrono::system_clock::from_time_t(timegm(&date)) - std::chrono::system_clock::now();
  return std::clamp(std::chrono::ceil<seconds>(left), seconds(0), kLongestLimit);
}

}  // namespace

void RateLimits::Limit(const std::string& category, Clock::time_point until) {
  Clock::time_point& known = until_[category];
  known = std::max(known, until);
}

void RateLimits::Update(const http::HttpResponse& response, Clock::time_point now) {
  const std::lock_guard lock(mutex_);
  bool named = false;
  if (const std::optional<std::string> header = response.Header("X-Sentry-Rate-Limits")) {
    // <retry_after>:<category>;<category>...:<scope>:<reason>..., blanks anywhere ignored.
    for (const std::string& quota : Split(WithoutBlanks(*header), ',')) {
      if (quota.empty()) continue;
      const std::vector<std::string> fields = Split(quota, ':');
      const seconds delay = ParseSeconds(fields[0]).value_or(kDefaultRetryAfter);
      const std::string categories = fields.size() > 1 ? fields[1] : "";
      if (categories.empty()) Limit("", now + delay);
      for (const std::string& category : Split(categories, ';')) {
        if (!category.empty()) Limit(category, now + delay);
      }
      named = true;
    }
  }
  if (named || response.Status != 429) return;
  const std::optional<std::string> retryAfter = response.Header("Retry-After");
  Limit("", now + (retryAfter ? RetryAfter(*retryAfter) : kDefaultRetryAfter));
}

bool RateLimits::IsLimited(std::string_view category, Clock::time_point now) const {
  for (const std::string_view name : {std::string_view(), category}) {
    const auto found = until_.find(name);
    if (found != until_.end() && found->second > now) return true;
  }
  return false;
}

bool RateLimits::Admit(std::string& envelope, Clock::time_point now) const {
  const std::lock_guard lock(mutex_);
  if (std::none_of(until_.begin(), until_.end(),
                   [&](const auto& limit) { return limit.second > now; })) {
    return true;
  }
  std::optional<Envelope> parsed = ParseEnvelope(envelope);
  if (!parsed) return true;
  const size_t itemCount = parsed->Items.size();
  bool eventLimited = false;
  std::erase_if(parsed->Items, [&](const EnvelopeItem& item) {
    const Json* given = item.Header.contains("type") ? &item.Header["type"] : nullptr;
    const std::string type =
        given != nullptr && given->is_string() ? given->get<std::string>() : "";
    // The service counts events as "error", or "default" when they carry no exception; a limit
    // on either stops ours.
    const bool limited = type == "event" ? IsLimited("error", now) || IsLimited("default", now)
                                         : IsLimited(type, now);
    eventLimited = eventLimited || (limited && type == "event");
    return limited;
  });
  // An attachment without its event would be a report of its own (a minidump makes one).
  if (eventLimited || parsed->Items.empty()) return false;
  if (parsed->Items.size() != itemCount) envelope = parsed->Serialize();
  return true;
}

}  // namespace corvantis::sentry
