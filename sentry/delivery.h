#pragma once

#include <atomic>
#include <string>

#include "platform/http/http_sender.h"
#include "sentry/database.h"
#include "sentry/dsn.h"
#include "sentry/rate_limits.h"

namespace corvantis::sentry {

struct TransportLimits {
  long ConnectTimeoutMs = 5000;
  long TotalTimeoutMs = 10000;
  std::size_t MaxQueued = 100;
};

enum class Delivery {
  kAccepted,  // a 2xx answer
  kRefused,   // any other answer but 429 (3xx included: redirects are not followed): final
  kLimited,   // a 429 answer, or not sent for the service's rate limits: kept for later
  kFailed,    // no answer (network error, time-out, cancelled): worth another try later
};

// POSTs the envelope (its "sent_at" set to now) to the DSN's endpoint; never throws. With
// `rateLimits`, sends nothing while any of its items is limited, and learns from the answer.
Delivery PostEnvelope(http::HttpSender& sender, const Dsn& dsn, const std::string& envelope,
                      long connectTimeoutMs, long totalTimeoutMs, const std::atomic<bool>* cancel,
                      RateLimits* rateLimits = nullptr);

// Sends a claimed file and settles it: deleted when accepted, moved aside when unreadable,
// corrupt or refused, kept when limited or when no answer came. Without `rateLimits` it obeys,
// and keeps up to date, those stored in the database.
Delivery SendClaimed(const Database& database, ClaimedEnvelope& claimed, http::HttpSender& sender,
                     const Dsn& dsn, long connectTimeoutMs, long totalTimeoutMs,
                     const std::atomic<bool>* cancel, RateLimits* rateLimits = nullptr);

}  // namespace corvantis::sentry
