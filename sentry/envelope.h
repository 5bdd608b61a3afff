#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sentry/dsn.h"
#include "sentry/json.h"

namespace corvantis::sentry {

inline constexpr std::string_view kSdkName = "corvantis.sentry";
inline constexpr std::string_view kSdkVersion = "0.3.1";

struct EnvelopeItem {
  Json Header;  // carries "type" and "length" (bytes of payload)
  std::string Payload;
};

// An envelope: a header line, then per item a header line, exactly "length" payload bytes and "\n".
struct Envelope {
  Json Header = Json::object();
  std::vector<EnvelopeItem> Items;

  // {"event_id", "dsn", "sent_at"} with an event item.
  static Envelope ForEvent(std::string_view eventIdHex, std::string_view dsn,
                           std::string_view sentAt, std::string eventJson);
  void AddEvent(std::string eventJson);
  // An "attachment" item; a minidump has attachmentType "event.minidump".
  void AddAttachment(std::string_view filename, std::string_view attachmentType, std::string bytes);
  std::string Serialize() const;
};

// nullopt unless the text is a header line and at least one item, each a JSON object header and
// as many payload bytes as its "length" says (an item without "length" runs to the line end).
std::optional<Envelope> ParseEnvelope(std::string_view text);

// The same envelope with "sent_at" in its header set to `sentAt`; text that does not parse is
// returned unchanged.
std::string WithSentAt(const std::string& envelope, std::string_view sentAt);

// "Sentry sentry_version=7, sentry_client=<sdk>/<version>, sentry_key=<public key>"
std::string AuthHeader(const Dsn& dsn);

}  // namespace corvantis::sentry
