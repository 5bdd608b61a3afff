#include "sentry/os_info_linux.h"

#include <sys/utsname.h>

namespace corvantis::sentry {

OsInfo LinuxOsInfoSource::Read() {
  utsname names{};
  if (uname(&names) != 0) return OsInfo{"Linux", "", ""};
  return OsInfo{names.sysname, names.release, names.version};
}

}  // namespace corvantis::sentry
