#pragma once

#include <atomic>
#include <string>

#include "platform/http/http_sender.h"
#include "sentry/database.h"
#include "sentry/dsn.h"

namespace corvantis::sentry {

struct TransportLimits {
  long connectTimeoutMs = 5000;
  long totalTimeoutMs = 10000;
  std::size_t maxQueued = 100;
};

enum class Delivery {
  kAccepted,  // a 2xx answer
  kRefused,   // a 4xx answer other than 408 and 429: sending it again would not help
  kFailed,    // no answer, a 5xx, 408 or 429: worth another try later
};

// POSTs the envelope (its "sent_at" set to now) to the DSN's endpoint; never throws.
Delivery PostEnvelope(http::HttpSender& sender, const Dsn& dsn, const std::string& envelope,
                      long connectTimeoutMs, long totalTimeoutMs,
                      const std::atomic<bool>* cancel);

// Sends a claimed file and settles it: deleted when accepted, moved aside when unreadable,
// corrupt or refused, kept for a later attempt otherwise.
Delivery SendClaimed(const Database& database, ClaimedEnvelope& claimed, http::HttpSender& sender,
                     const Dsn& dsn, long connectTimeoutMs, long totalTimeoutMs,
                     const std::atomic<bool>* cancel);

}  // namespace corvantis::sentry
