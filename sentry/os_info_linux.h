#pragma once

#include "sentry/os_info.h"

namespace corvantis::sentry {

// From uname(2): sysname, kernel release as version, kernel build string as build.
class LinuxOsInfoSource final : public OsInfoSource {
 public:
  OsInfo Read() override;
};

}  // namespace corvantis::sentry
