#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/module_path.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis {

std::wstring GetExecutablePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) ThrowErrno(errno, "/proc/self/exe");
    if (static_cast<std::size_t>(n) < buffer.size()) {
      std::string_view path(buffer.data(), static_cast<std::size_t>(n));
      // The kernel marks an executable replaced or removed since it started; its name is the
      // path it ran from.
      constexpr std::string_view kDeleted = " (deleted)";
      if (path.size() > kDeleted.size() && path.ends_with(kDeleted))
        path.remove_suffix(kDeleted.size());
      return Utf8ToWide(path);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring RemoveFileSpec(const std::wstring& path) {
  const auto slash = path.find_last_of(L'/');
  if (slash == std::wstring::npos) return {};
  if (slash == 0) return L"/";
  return path.substr(0, slash);
}

std::wstring FindFileName(const std::wstring& path) {
  const auto slash = path.find_last_of(L'/');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring GetExecutableDirectory() { return RemoveFileSpec(GetExecutablePath()); }

}  // namespace corvantis
