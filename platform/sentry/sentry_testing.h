#pragma once

#include <chrono>
#include <memory>

#include "platform/http/http_sender.h"
#include "platform/sentry/json.h"
#include "platform/sentry/os_info.h"
#include "platform/sentry/sentry.h"

// Hooks for tests only; each applies from the next sentry_init on.
namespace corvantis::sentry::testing {

// nullptr restores the libcurl sender.
void SetHttpSender(std::shared_ptr<http::HttpSender> sender);
// nullptr restores uname.
void SetOsInfoSource(std::shared_ptr<OsInfoSource> source);
// How long sentry_shutdown may spend sending; 2 s unless set.
void SetShutdownBudget(std::chrono::milliseconds budget);
void ResetHooks();

// {"user": ..., "tags": {...}, "breadcrumbs": [...]}
Json ScopeSnapshot();
void ClearScope();
// The content of value, which stays owned by the caller.
Json ValueJson(sentry_value_t value);

}  // namespace corvantis::sentry::testing
