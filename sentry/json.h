#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvantis::sentry {

// Keeps keys in insertion order, as events are read by people too.
using Json = nlohmann::ordered_json;

// Deeper than any event or header of ours nests, shallow enough that copying, printing and
// destroying a value (which recurse) stay far from the end of any thread's stack.
inline constexpr std::size_t kMaxJsonDepth = 64;

// Compact text; invalid UTF-8 becomes U+FFFD instead of throwing.
std::string Dump(const Json& json);

// The value `text` holds; nullopt when it is not JSON or nests deeper than `maxDepth` arrays and
// objects. Deeper text is refused as it is read, before it is built, with no recursion.
std::optional<Json> ParseJson(std::string_view text, std::size_t maxDepth = kMaxJsonDepth);

}  // namespace corvantis::sentry
