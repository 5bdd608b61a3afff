#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace corvantis::sentry {

// Keeps keys in insertion order, as events are read by people too.
using Json = nlohmann::ordered_json;

// Compact text; invalid UTF-8 becomes U+FFFD instead of throwing.
std::string Dump(const Json& json);

}  // namespace corvantis::sentry
