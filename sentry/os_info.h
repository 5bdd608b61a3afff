#pragma once

#include <string>

namespace corvantis::sentry {

// The event service's "os" context.
struct OsInfo {
  std::string Name;
  std::string Version;
  std::string Build;
  std::string KernelVersion;
};

class OsInfoSource {
 public:
  virtual ~OsInfoSource();
  // Facts about the running system; fields left empty are unknown.
  virtual OsInfo Read() = 0;

 protected:
  OsInfoSource() = default;
  OsInfoSource(const OsInfoSource&) = default;
  OsInfoSource& operator=(const OsInfoSource&) = default;
};

}  // namespace corvantis::sentry
