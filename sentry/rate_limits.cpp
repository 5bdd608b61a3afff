#include "sentry/rate_limits.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "sentry/database.h"
#include "sentry/envelope.h"

namespace corvantis::sentry {
namespace {

using std::chrono::seconds;
using std::chrono::system_clock;

constexpr seconds kDefaultRetryAfter{60};
// Bounds what a hostile answer can make us keep in memory and in the stored file.
constexpr std::size_t kMaxCategories = 32;
constexpr std::size_t kMaxCategoryBytes = 64;
constexpr std::size_t kMaxStoredBytes = 8 << 10;
// In the private folder: "<category or *> <end in seconds since 1970>" a line.
constexpr char kStoredName[] = "rate-limits";

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

// "*" stands for every category in the stored file.
bool IsCategoryName(std::string_view name) {
  return !name.empty() && name.size() <= kMaxCategoryBytes &&
         std::all_of(name.begin(), name.end(),
                     [](char c) { return c > ' ' && c < 0x7f && c != '*'; });
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
  const double capped = std::min(std::ceil(value), static_cast<double>(kLongestRateLimit.count()));
  return seconds(static_cast<long long>(capped));
}

// Retry-After: seconds, or the HTTP date after which to try again.
seconds RetryAfter(const std::string& text, system_clock::time_point now) {
  if (const std::optional<seconds> delay = ParseSeconds(text)) return *delay;
  tm date{};
  const char* end = strptime(text.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &date);
  if (end == nullptr || *end != '\0') return kDefaultRetryAfter;
  const time_t when = timegm(&date);
  if (when == static_cast<time_t>(-1)) return kDefaultRetryAfter;
  // Compared in seconds: far dates do not fit the clock's finer ticks.
  const long long left = static_cast<long long>(when) - system_clock::to_time_t(now);
  return seconds(std::clamp<long long>(left, 0, kLongestRateLimit.count()));
}

}  // namespace

std::vector<RateLimit> ReadRateLimits(const http::HttpResponse& response,
                                      system_clock::time_point now) {
  std::vector<RateLimit> limits;
  const auto add = [&](std::string category, seconds delay) {
    if (limits.size() < kMaxCategories) limits.push_back({std::move(category), delay});
  };
  if (const std::optional<std::string> header = response.Header("X-Sentry-Rate-Limits")) {
    // <retry_after>:<category>;<category>...:<scope>:<reason>..., blanks anywhere ignored.
    for (const std::string& quota : Split(WithoutBlanks(*header), ',')) {
      if (quota.empty()) continue;
      const std::vector<std::string> fields = Split(quota, ':');
      const seconds delay = ParseSeconds(fields[0]).value_or(kDefaultRetryAfter);
      const std::string categories = fields.size() > 1 ? fields[1] : "";
      if (categories.empty()) add("", delay);
      for (const std::string& category : Split(categories, ';')) {
        if (IsCategoryName(category)) add(category, delay);
      }
    }
    if (!limits.empty()) return limits;
  }
  if (response.Status != 429) return limits;
  const std::optional<std::string> retryAfter = response.Header("Retry-After");
  add("", retryAfter ? RetryAfter(*retryAfter, now) : kDefaultRetryAfter);
  return limits;
}

RateLimits::RateLimits(const Database* database, Clock clock)
    : database_(database), clock_(std::move(clock)) {
  Load();
}

void RateLimits::Load() {
  if (database_ == nullptr) return;
  const std::optional<std::string> text = database_->ReadFile(kStoredName, kMaxStoredBytes);
  if (!text) return;
  const auto now = clock_();
  std::istringstream lines(*text);
  std::string category;
  long long end = 0;
  while (until_.size() < kMaxCategories && lines >> category >> end) {
    if (category != "*" && !IsCategoryName(category)) continue;
    // A clock set back since must not stretch a limit beyond what any answer can ask.
    const auto until =
        std::min(system_clock::from_time_t(static_cast<time_t>(end)), now + kLongestRateLimit);
    if (until > now) until_[category == "*" ? "" : category] = until;
  }
}

void RateLimits::Save() const {
  if (database_ == nullptr) return;
  std::string text;
  for (const auto& [category, until] : until_) {
    text += category.empty() ? "*" : category;
    text += ' ';
    text += std::to_string(std::chrono::ceil<seconds>(until.time_since_epoch()).count());
    text += '\n';
  }
  database_->ReplaceFile(kStoredName, text);
}

void RateLimits::Update(const http::HttpResponse& response) {
  const auto now = clock_();
  const std::vector<RateLimit> limits = ReadRateLimits(response, now);
  if (limits.empty()) return;
  const std::lock_guard lock(mutex_);
  std::erase_if(until_, [&](const auto& limit) { return limit.second <= now; });
  for (const RateLimit& limit : limits) {
    const auto found = until_.find(limit.Category);
    if (found == until_.end() && until_.size() >= kMaxCategories) continue;
    auto& known = until_[limit.Category];
    known = std::max(known, now + limit.Delay);
  }
  Save();
}

bool RateLimits::IsLimited(std::string_view category, system_clock::time_point now) const {
  for (const std::string_view name : {std::string_view(), category}) {
    const auto found = until_.find(name);
    if (found != until_.end() && found->second > now) return true;
  }
  return false;
}

bool RateLimits::LimitsAll() const {
  const std::lock_guard lock(mutex_);
  return IsLimited("", clock_());
}

std::optional<system_clock::time_point> RateLimits::NextEnd() const {
  const auto now = clock_();
  const std::lock_guard lock(mutex_);
  std::optional<system_clock::time_point> next;
  for (const auto& [category, until] : until_) {
    if (until > now && (!next || until < *next)) next = until;
  }
  return next;
}

bool RateLimits::Limits(std::string_view envelope) const {
  const auto now = clock_();
  {
    const std::lock_guard lock(mutex_);
    if (IsLimited("", now)) return true;
    if (std::none_of(until_.begin(), until_.end(),
                     [&](const auto& limit) { return limit.second > now; })) {
      return false;
    }
  }
  const std::optional<Envelope> parsed = ParseEnvelope(envelope);
  if (!parsed) return false;
  const std::lock_guard lock(mutex_);
  return std::any_of(parsed->Items.begin(), parsed->Items.end(), [&](const EnvelopeItem& item) {
    const auto given = item.Header.find("type");
    const std::string type =
        given != item.Header.end() && given->is_string() ? given->get<std::string>() : "";
    return type == "event" ? IsLimited("error", now) || IsLimited("default", now)
                           : IsLimited(type, now);
  });
}

}  // namespace corvantis::sentry
