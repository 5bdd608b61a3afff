#pragma once

#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace corvantis::sentry {

using Uuid = std::array<unsigned char, 16>;

// A random (version 4) uuid.
Uuid NewUuidV4();
// 32 lower-case hex digits, no dashes: the event service's event_id form.
std::string ToHex(const Uuid& uuid);
// Accepts 32 hex digits, or the hyphenated 36-character form; either case.
std::optional<Uuid> ParseUuid(std::string_view text);

// RFC 3339 in UTC with milliseconds, e.g. "2024-05-01T10:20:30.123Z".
std::string FormatTimestamp(std::chrono::system_clock::time_point time);
std::string NowTimestamp();

}  // namespace corvantis::sentry
