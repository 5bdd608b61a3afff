#include "platform/sentry/envelope.h"

#include "platform/sentry/json.h"

namespace corvantis::sentry {

std::string BuildEventEnvelope(std::string_view eventIdHex, std::string_view dsn,
                               std::string_view sentAt, std::string_view eventJson) {
  const Json header = {{"event_id", eventIdHex}, {"dsn", dsn}, {"sent_at", sentAt}};
  const Json item = {{"type", "event"}, {"length", eventJson.size()}};
  std::string envelope = Dump(header);
  envelope += '\n';
  envelope += Dump(item);
  envelope += '\n';
  envelope += eventJson;
  envelope += '\n';
  return envelope;
}

std::string AuthHeader(const Dsn& dsn) {
  return "Sentry sentry_version=7, sentry_client=" + std::string(kSdkName) + "/" +
         std::string(kSdkVersion) + ", sentry_key=" + dsn.publicKey;
}

}  // namespace corvantis::sentry
