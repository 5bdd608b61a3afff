#include "sentry/delivery.h"

#include <algorithm>

#include "sentry/envelope.h"
#include "sentry/ids.h"

namespace corvantis::sentry {

Delivery PostEnvelope(http::HttpSender& sender, const Dsn& dsn, const std::string& envelope,
                      long connectTimeoutMs, long totalTimeoutMs,
                      const std::atomic<bool>* cancel, RateLimits* rateLimits) {
  std::string admitted = envelope;
  if (rateLimits != nullptr && !rateLimits->Admit(admitted)) return Delivery::kLimited;
  http::HttpRequest request;
  request.url = dsn.EnvelopeUrl();
  request.method = "POST";
  request.headers = {
      {"Content-Type", "application/x-sentry-envelope"},
      {"X-Sentry-Auth", AuthHeader(dsn)},
      {"User-Agent", std::string(kSdkName) + "/" + std::string(kSdkVersion)},
  };
  request.body = WithSentAt(admitted, NowTimestamp());
  request.connectTimeoutMs = std::min(connectTimeoutMs, totalTimeoutMs);
  request.totalTimeoutMs = totalTimeoutMs;
  request.cancel = cancel;
  http::HttpResponse response;
  try {
    response = sender.Send(request);
  } catch (...) {
    // No answer (HttpError) or a broken sender: either way, try again another time.
    return Delivery::kFailed;
  }
  if (rateLimits != nullptr) rateLimits->Update(response);
  if (response.status >= 200 && response.status < 300) return Delivery::kAccepted;
  // The service answered: sending the same bytes again would get the same answer.
  return response.status == 429 ? Delivery::kLimited : Delivery::kRefused;
}

Delivery SendClaimed(const Database& database, ClaimedEnvelope& claimed, http::HttpSender& sender,
                     const Dsn& dsn, long connectTimeoutMs, long totalTimeoutMs,
                     const std::atomic<bool>* cancel, RateLimits* rateLimits) {
  const std::optional<std::string> bytes = claimed.Read();
  if (!bytes || !ParseEnvelope(*bytes)) {
    database.MoveAside(claimed);
    return Delivery::kRefused;
  }
  const Delivery delivery =
      PostEnvelope(sender, dsn, *bytes, connectTimeoutMs, totalTimeoutMs, cancel, rateLimits);
  if (delivery == Delivery::kAccepted || delivery == Delivery::kLimited) claimed.Remove();
  if (delivery == Delivery::kRefused) database.MoveAside(claimed);
  return delivery;
}

}  // namespace corvantis::sentry
