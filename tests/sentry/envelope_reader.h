#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sentry/json.h"

namespace corvantis::sentry::testing {

struct ParsedItem {
  Json Header;
  std::string Payload;  // exactly header["length"] bytes
};

struct ParsedEnvelope {
  Json Header;
  std::vector<ParsedItem> Items;
  Json Event;  // the payload of the "event" item, parsed

  // The first item of that type, or nullptr.
  const ParsedItem* Item(const std::string& type) const {
    for (const ParsedItem& item : Items) {
      if (item.Header.value("type", "") == type) return &item;
    }
    return nullptr;
  }
};

// Reads an envelope as the event service does: a header line, then items, each a header line,
// "length" payload bytes and a line end. Any deviation is a test failure.
inline ParsedEnvelope ReadEnvelope(const std::string& body) {
  ParsedEnvelope parsed;
  size_t lineEnd = body.find('\n');
  if (lineEnd == body.npos) {
    ADD_FAILURE() << "envelope lacks a header line: " << body;
    return parsed;
  }
  parsed.Header = Json::parse(body.substr(0, lineEnd));
  size_t at = lineEnd + 1;
  while (at < body.size()) {
    lineEnd = body.find('\n', at);
    if (lineEnd == body.npos) {
      ADD_FAILURE() << "item header without a line end at " << at;
      return parsed;
    }
    ParsedItem item;
    item.Header = Json::parse(body.substr(at, lineEnd - at));
    const size_t length = item.Header.at("length").get<size_t>();
    at = lineEnd + 1;
    if (at + length >= body.size() || body[at + length] != '\n') {
      ADD_FAILURE() << "item payload is not " << length << " bytes and a line end";
      return parsed;
    }
    item.Payload = body.substr(at, length);
    at += length + 1;
    if (item.Header.value("type", "") == "event") parsed.Event = Json::parse(item.Payload);
    parsed.Items.push_back(std::move(item));
  }
  if (parsed.Items.empty()) ADD_FAILURE() << "envelope without items";
  return parsed;
}

}  // namespace corvantis::sentry::testing
