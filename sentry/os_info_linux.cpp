#include "sentry/os_info_linux.h"

#include <sys/utsname.h>

namespace corvantis::sentry {

std::string KernelVersionNumber(std::string_view release) {
  std::string number;
  int numbers = 0;
  bool inNumber = false;
  for (const char c : release) {
    if (c >= '0' && c <= '9') {
      if (!inNumber) ++numbers;
      inNumber = true;
    } else if (c == '.' && inNumber && numbers < 3) {
      inNumber = false;
    } else {
      break;
    }
    number.push_back(c);
  }
  if (!number.empty() && number.back() == '.') number.pop_back();
  return number;
}

OsInfo LinuxOsInfoSource::Read() {
  OsInfo info;
  info.Name = "Linux";
  utsname names{};
  if (uname(&names) != 0) return info;
  info.Name = names.sysname;
  info.Version = KernelVersionNumber(names.release);
  info.Build = names.version;
  info.KernelVersion = names.release;
  return info;
}

}  // namespace corvantis::sentry
