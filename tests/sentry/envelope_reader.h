#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/sentry/json.h"

namespace corvantis::sentry::testing {

struct ParsedEnvelope {
  Json header;
  Json itemHeader;
  std::string payload;  // exactly itemHeader["length"] bytes
  Json event;
  std::string trailer;  // what follows the payload
};

// Reads an envelope as the event service does: two header lines, then "length" payload bytes.
inline ParsedEnvelope ReadEnvelope(const std::string& body) {
  ParsedEnvelope parsed;
  const size_t first = body.find('\n');
  const size_t second = first == body.npos ? body.npos : body.find('\n', first + 1);
  if (second == body.npos) {
    ADD_FAILURE() << "envelope lacks two header lines: " << body;
    return parsed;
  }
  parsed.header = Json::parse(body.substr(0, first));
  parsed.itemHeader = Json::parse(body.substr(first + 1, second - first - 1));
  const size_t length = parsed.itemHeader.value("length", size_t{0});
  parsed.payload = body.substr(second + 1, length);
  parsed.trailer = body.substr(std::min(body.size(), second + 1 + length));
  parsed.event = Json::parse(parsed.payload);
  return parsed;
}

}  // namespace corvantis::sentry::testing
