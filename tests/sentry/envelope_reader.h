#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sentry/json.h"

namespace corvantis::sentry::testing {

struct ParsedItem {
  Json header;
  std::string payload;  // exactly header["length"] bytes
};

struct ParsedEnvelope {
  Json header;
  std::vector<ParsedItem> items;
  Json event;  // the payload of the "event" item, parsed

  // The first item of that type, or nullptr.
  const ParsedItem* Item(const std::string& type) const {
    for (const ParsedItem& item : items) {
      if (item.header.value("type", "") == type) return &item;
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
  parsed.header = Json::parse(body.substr(0, lineEnd));
  size_t at = lineEnd + 1;
  while (at < body.size()) {
    lineEnd = body.find('\n', at);
    if (lineEnd == body.npos) {
      ADD_FAILURE() << "item header without a line end at " << at;
      return parsed;
    }
    ParsedItem item;
    item.header = Json::parse(body.substr(at, lineEnd - at));
    const size_t length = item.header.at("length").get<size_t>();
    at = lineEnd + 1;
    if (at + length >= body.size() || body[at + length] != '\n') {
      ADD_FAILURE() << "item payload is not " << length << " bytes and a line end";
      return parsed;
    }
    item.payload = body.substr(at, length);
    at += length + 1;
    if (item.header.value("type", "") == "event") parsed.event = Json::parse(item.payload);
    parsed.items.push_back(std::move(item));
  }
  if (parsed.items.empty()) ADD_FAILURE() << "envelope without items";
  return parsed;
}

}  // namespace corvantis::sentry::testing
