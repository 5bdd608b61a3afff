#pragma once

#include <string>
#include <string_view>

#include "platform/sentry/dsn.h"

namespace corvantis::sentry {

inline constexpr std::string_view kSdkName = "corvantis.sentry";
inline constexpr std::string_view kSdkVersion = "0.3.1";

// Three lines: {"event_id","dsn","sent_at"}, {"type":"event","length":<bytes of eventJson>},
// then eventJson itself, each ended by "\n".
std::string BuildEventEnvelope(std::string_view eventIdHex, std::string_view dsn,
                               std::string_view sentAt, std::string_view eventJson);

// "Sentry sentry_version=7, sentry_client=<sdk>/<version>, sentry_key=<public key>"
std::string AuthHeader(const Dsn& dsn);

}  // namespace corvantis::sentry
