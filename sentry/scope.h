#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "sentry/json.h"

namespace corvantis::sentry {

// User, tags and breadcrumbs attached to every event; safe to use from any thread.
class Scope {
 public:
  static constexpr std::size_t kMaxBreadcrumbs = 100;

  // A null user removes it.
  void SetUser(Json user);
  void SetTag(const std::string& key, const std::string& value);
  // Stamps "timestamp" when missing; drops the oldest beyond kMaxBreadcrumbs. Non-objects ignored.
  void AddBreadcrumb(Json breadcrumb);
  void Clear();

  // Adds what the event lacks: "user" and "breadcrumbs" ({"values": [...]}) when it has none,
  // tags per key (the event's own win).
  void ApplyTo(Json& event) const;
  // {"user": ..., "tags": {...}, "breadcrumbs": [...]}
  Json Snapshot() const;

 private:
  mutable std::mutex mutex_;
  Json user_;
  Json tags_ = Json::object();
  std::deque<Json> breadcrumbs_;
};

}  // namespace corvantis::sentry
