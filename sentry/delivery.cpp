#include "sentry/delivery.h"

#include <algorithm>
#include <optional>

#include "sentry/envelope.h"
#include "sentry/ids.h"

namespace corvantis::sentry {

Delivery PostEnvelope(http::HttpSender& sender, const Dsn& dsn, const std::string& envelope,
                      long connectTimeoutMs, long totalTimeoutMs, const std::atomic<bool>* cancel,
                      RateLimits* rateLimits) {
  if (rateLimits != nullptr && rateLimits->Limits(envelope)) return Delivery::kLimited;
  http::HttpRequest request;
  request.Url = dsn.EnvelopeUrl();
  request.Method = "POST";
  request.Headers = {
      {"Content-Type", "application/x-sentry-envelope"},
      {"X-Sentry-Auth", AuthHeader(dsn)},
      {"User-Agent", std::string(kSdkName) + "/" + std::string(kSdkVersion)},
  };
  request.Body = WithSentAt(envelope, NowTimestamp());
  request.ConnectTimeoutMs = std::min(connectTimeoutMs, totalTimeoutMs);
  request.TotalTimeoutMs = totalTimeoutMs;
  request.Cancel = cancel;
  http::HttpResponse response;
  try {
    response = sender.Send(request);
  } catch (...) {
    // No answer (HttpError) or a broken sender: either way, try again another time.
    return Delivery::kFailed;
  }
  if (rateLimits != nullptr) rateLimits->Update(response);
  if (response.Status >= 200 && response.Status < 300) return Delivery::kAccepted;
  // The service answered: sending the same bytes again would get the same answer.
  return response.Status == 429 ? Delivery::kLimited : Delivery::kRefused;
}

Delivery SendClaimed(const Database& database, ClaimedEnvelope& claimed, http::HttpSender& sender,
                     const Dsn& dsn, long connectTimeoutMs, long totalTimeoutMs,
                     const std::atomic<bool>* cancel, RateLimits* rateLimits) {
  const std::optional<std::string> bytes = claimed.Read();
  if (!bytes || !ParseEnvelope(*bytes)) {
    database.MoveAside(claimed, bytes ? "corrupt" : "unreadable");
    return Delivery::kRefused;
  }
  std::optional<RateLimits> stored;
  if (rateLimits == nullptr) rateLimits = &stored.emplace(&database);
  const Delivery delivery =
      PostEnvelope(sender, dsn, *bytes, connectTimeoutMs, totalTimeoutMs, cancel, rateLimits);
  if (delivery == Delivery::kAccepted) claimed.Remove();
  if (delivery == Delivery::kRefused) database.MoveAside(claimed, "refused");
  return delivery;
}

}  // namespace corvantis::sentry
