#include "sentry/delivery.h"

#include <algorithm>

#include "sentry/envelope.h"
#include "sentry/ids.h"

namespace corvantis::sentry {

Delivery PostEnvelope(http::HttpSender& sender, const Dsn& dsn, const std::string& envelope,
                      long connectTimeoutMs, long totalTimeoutMs,
                      const std::atomic<bool>* cancel) {
  http::HttpRequest request;
  request.url = dsn.EnvelopeUrl();
  request.method = "POST";
  request.headers = {
      {"Content-Type", "application/x-sentry-envelope"},
      {"X-Sentry-Auth", AuthHeader(dsn)},
      {"User-Agent", std::string(kSdkName) + "/" + std::string(kSdkVersion)},
  };
  request.body = WithSentAt(envelope, NowTimestamp());
  request.connectTimeoutMs = std::min(connectTimeoutMs, totalTimeoutMs);
  request.totalTimeoutMs = totalTimeoutMs;
  request.cancel = cancel;
  try {
    const long status = sender.Send(request).status;
    if (status >= 200 && status < 300) return Delivery::kAccepted;
    if (status >= 400 && status < 500 && status != 408 && status != 429) return Delivery::kRefused;
  } catch (...) {
    // No answer (HttpError) or a broken sender: either way, try again another time.
  }
  return Delivery::kFailed;
}

Delivery SendClaimed(const Database& database, ClaimedEnvelope& claimed, http::HttpSender& sender,
                     const Dsn& dsn, long connectTimeoutMs, long totalTimeoutMs,
                     const std::atomic<bool>* cancel) {
  const std::optional<std::string> bytes = claimed.Read();
  if (!bytes || !ParseEnvelope(*bytes)) {
    database.MoveAside(claimed);
    return Delivery::kRefused;
  }
  const Delivery delivery =
      PostEnvelope(sender, dsn, *bytes, connectTimeoutMs, totalTimeoutMs, cancel);
  if (delivery == Delivery::kAccepted) claimed.Remove();
  if (delivery == Delivery::kRefused) database.MoveAside(claimed);
  return delivery;
}

}  // namespace corvantis::sentry
