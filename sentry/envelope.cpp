#include "sentry/envelope.h"

#include <utility>

namespace corvantis::sentry {
namespace {

std::optional<Json> ParseObjectLine(std::string_view line) {
  std::optional<Json> json = ParseJson(line);
  if (!json || !json->is_object()) return std::nullopt;
  return json;
}

}  // namespace

Envelope Envelope::ForEvent(std::string_view eventIdHex, std::string_view dsn,
                            std::string_view sentAt, std::string eventJson) {
  Envelope envelope;
  envelope.Header = {{"event_id", eventIdHex}, {"dsn", dsn}, {"sent_at", sentAt}};
  envelope.AddEvent(std::move(eventJson));
  return envelope;
}

void Envelope::AddEvent(std::string eventJson) {
  Json itemHeader = {{"type", "event"}, {"length", eventJson.size()}};
  Items.push_back({std::move(itemHeader), std::move(eventJson)});
}

void Envelope::AddAttachment(std::string_view filename, std::string_view attachmentType,
                             std::string bytes) {
  Json itemHeader = {{"type", "attachment"},
                     {"length", bytes.size()},
                     {"filename", filename},
                     {"attachment_type", attachmentType}};
  Items.push_back({std::move(itemHeader), std::move(bytes)});
}

std::string Envelope::Serialize() const {
  std::string text = Dump(Header);
  text += '\n';
  for (const EnvelopeItem& item : Items) {
    Json itemHeader = item.Header;
    itemHeader["length"] = item.Payload.size();
    text += Dump(itemHeader);
    text += '\n';
    text += item.Payload;
    text += '\n';
  }
  return text;
}

std::optional<Envelope> ParseEnvelope(std::string_view text) {
  size_t lineEnd = text.find('\n');
  if (lineEnd == text.npos) return std::nullopt;
  std::optional<Json> header = ParseObjectLine(text.substr(0, lineEnd));
  if (!header) return std::nullopt;
  Envelope envelope;
  envelope.Header = std::move(*header);
  size_t at = lineEnd + 1;
  while (at < text.size()) {
    lineEnd = text.find('\n', at);
    if (lineEnd == text.npos) return std::nullopt;
    std::optional<Json> itemHeader = ParseObjectLine(text.substr(at, lineEnd - at));
    if (!itemHeader || !itemHeader->contains("type")) return std::nullopt;
    at = lineEnd + 1;
    size_t length = 0;
    if (itemHeader->contains("length")) {
      const Json& given = (*itemHeader)["length"];
      if (!given.is_number_unsigned() || given.get<size_t>() > text.size() - at)
        return std::nullopt;
      length = given.get<size_t>();
    } else {
      const size_t end = text.find('\n', at);
      length = (end == text.npos ? text.size() : end) - at;
    }
    envelope.Items.push_back({std::move(*itemHeader), std::string(text.substr(at, length))});
    at += length;
    if (at < text.size()) {
      if (text[at] != '\n') return std::nullopt;
      ++at;
    }
  }
  if (envelope.Items.empty()) return std::nullopt;
  return envelope;
}

std::string WithSentAt(const std::string& envelope, std::string_view sentAt) {
  const size_t lineEnd = envelope.find('\n');
  if (lineEnd == envelope.npos) return envelope;
  std::optional<Json> header = ParseObjectLine(std::string_view(envelope).substr(0, lineEnd));
  if (!header) return envelope;
  (*header)["sent_at"] = sentAt;
  return Dump(*header) + envelope.substr(lineEnd);
}

std::string AuthHeader(const Dsn& dsn) {
  return "Sentry sentry_version=7, sentry_client=" + std::string(kSdkName) + "/" +
         std::string(kSdkVersion) + ", sentry_key=" + dsn.PublicKey;
}

}  // namespace corvantis::sentry
