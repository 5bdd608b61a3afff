#pragma once

#include <string>
#include <string_view>

#include "sentry/os_info.h"

namespace corvantis::sentry {

// From uname(2): sysname as name, the kernel release's numeric part as version, the whole release
// as kernelVersion, the kernel build string as build.
class LinuxOsInfoSource final : public OsInfoSource {
 public:
  OsInfo Read() override;
};

// The leading "major.minor.patch" of a kernel release ("6.1.0" of "6.1.0-18-amd64"); at most
// three numbers, empty when the release does not start with one.
std::string KernelVersionNumber(std::string_view release);

}  // namespace corvantis::sentry
