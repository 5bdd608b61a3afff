#include "sentry/json.h"

namespace corvantis::sentry {

std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace corvantis::sentry
