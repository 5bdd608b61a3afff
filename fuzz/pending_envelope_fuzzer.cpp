// A pending file's bytes as the transport reads them: parsed, restamped and written out again.
// Whatever parses keeps its items through a round trip; nothing recurses on the input's nesting.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sentry/envelope.h"

using namespace corvantis::sentry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::optional<Envelope> parsed = ParseEnvelope(text);
  const std::string restamped = WithSentAt(text, "2030-01-01T00:00:00.000Z");
  if (!parsed) {
    FUZZ_CHECK(restamped == text || ParseJson(text.substr(0, text.find('\n'))));
    return 0;
  }
  FUZZ_CHECK(!parsed->Items.empty());
  const std::optional<Envelope> again = ParseEnvelope(parsed->Serialize());
  FUZZ_CHECK(again && again->Items.size() == parsed->Items.size());
  FUZZ_CHECK(Dump(again->Header) == Dump(parsed->Header));
  for (std::size_t i = 0; i < parsed->Items.size(); ++i) {
    FUZZ_CHECK(again->Items[i].Payload == parsed->Items[i].Payload);
  }
  const std::optional<Envelope> resent = ParseEnvelope(restamped);
  FUZZ_CHECK(resent && resent->Header["sent_at"] == "2030-01-01T00:00:00.000Z");
  FUZZ_CHECK(resent->Items.size() == parsed->Items.size());
  return 0;
}
