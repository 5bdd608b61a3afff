#include "sentry/os_info.h"

namespace corvantis::sentry {

OsInfoSource::~OsInfoSource() = default;

}  // namespace corvantis::sentry
