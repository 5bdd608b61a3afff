#include "sentry/scope.h"

#include <utility>

#include "sentry/ids.h"

namespace corvantis::sentry {
namespace {

Json ToArray(const std::deque<Json>& items) {
  Json array = Json::array();
  for (const Json& item : items) array.push_back(item);
  return array;
}

}  // namespace

void Scope::SetUser(Json user) {
  const std::lock_guard lock(mutex_);
  user_ = std::move(user);
}

void Scope::SetTag(const std::string& key, const std::string& value) {
  const std::lock_guard lock(mutex_);
  tags_[key] = value;
}

void Scope::AddBreadcrumb(Json breadcrumb) {
  if (!breadcrumb.is_object()) return;
  if (!breadcrumb.contains("timestamp")) breadcrumb["timestamp"] = NowTimestamp();
  const std::lock_guard lock(mutex_);
  breadcrumbs_.push_back(std::move(breadcrumb));
  while (breadcrumbs_.size() > kMaxBreadcrumbs) breadcrumbs_.pop_front();
}

void Scope::Clear() {
  const std::lock_guard lock(mutex_);
  user_ = Json();
  tags_ = Json::object();
  breadcrumbs_.clear();
}

void Scope::ApplyTo(Json& event) const {
  const std::lock_guard lock(mutex_);
  if (!user_.is_null() && !event.contains("user")) event["user"] = user_;
  if (!tags_.empty()) {
    Json& tags = event["tags"];
    if (!tags.is_object()) tags = Json::object();
    for (const auto& [key, value] : tags_.items()) {
      if (!tags.contains(key)) tags[key] = value;
    }
  }
  if (!breadcrumbs_.empty() && !event.contains("breadcrumbs")) {
    event["breadcrumbs"] = {{"values", ToArray(breadcrumbs_)}};
  }
}

Json Scope::Snapshot() const {
  const std::lock_guard lock(mutex_);
  return {{"user", user_}, {"tags", tags_}, {"breadcrumbs", ToArray(breadcrumbs_)}};
}

}  // namespace corvantis::sentry
