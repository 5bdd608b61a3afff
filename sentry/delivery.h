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
  kLimited,   // a 429 answer, or not sent for the service's rate limits: dropped, never kept
  kFailed,    // no answer (network error, time-out, cancelled): worth another try later
};

// POSTs the envelope (its "sent_at" set to now) to the DSN's endpoint; never throws. With
// `rateLimits`, sends only what they admit and learns from the answer.
Delivery PostEnvelope(http::HttpSender& sender, const Dsn& dsn, const std::string& envelope,
                      long connectTimeoutMs, long totalTimeoutMs, const std::atomic<bool>* cancel,
                      RateLimits* rateLimits = nullptr);

// Sends a claimed file and settles it: deleted when accepted or limited, moved aside when
// unreadable, corrupt or refused, kept for a later attempt when no answer came.
Delivery SendClaimed(const Database& database, ClaimedEnvelope& claimed, http::HttpSender& sender,
                     const Dsn& dsn, long connectTimeoutMs, long totalTimeoutMs,
                     const std::atomic<bool>* cancel, RateLimits* rateLimits = nullptr);

}  // namespace corvantis::sentry
