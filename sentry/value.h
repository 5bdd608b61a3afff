#pragma once

#include <atomic>
#include <cstddef>

#include "sentry/json.h"
#include "sentry/sentry.h"

struct sentry_value_node {
  std::atomic<std::size_t> Refs{1};
  corvantis::sentry::Json Json;
};

namespace corvantis::sentry {

// A new value holding json, with one reference for the caller.
sentry_value_t NewValue(Json json);
// Consumes the caller's reference and returns the content (null JSON for the null value).
Json TakeJson(sentry_value_t value);
// The content without taking a reference; nullptr for the null value.
const Json* PeekJson(sentry_value_t value);

}  // namespace corvantis::sentry
