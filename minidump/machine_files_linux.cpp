#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "minidump/machine_files.h"
#include "platform/file_bytes.h"

namespace corvantis::minidump {

std::uint64_t BootTime() {
  const std::optional<std::string> stat = ReadFileBytes("/proc/stat");
  if (!stat) return 0;
  const std::size_t at = stat->find("\nbtime ");
  return at == std::string::npos ? 0 : std::strtoull(stat->c_str() + at + 7, nullptr, 10);
}

long ClockTicksPerSecond() {
  const long ticks = sysconf(_SC_CLK_TCK);
  return ticks > 0 ? ticks : 100;
}

std::vector<HandleSnapshot> ReadOpenDescriptors(pid_t pid) {
  const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
  std::vector<HandleSnapshot> handles;
  const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(folder.c_str()), ::closedir);
  if (!directory) return handles;
  while (const dirent* entry = ::readdir(directory.get())) {
    char* end = nullptr;
    const unsigned long fd = std::strtoul(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    char target[4096];
    const std::string link = folder + "/" + entry->d_name;
    const ssize_t n = ::readlink(link.c_str(), target, sizeof(target));
    if (n < 0) continue;
    handles.push_back(
        {static_cast<std::uint32_t>(fd), std::string(target, static_cast<std::size_t>(n))});
  }
  std::sort(handles.begin(), handles.end(), [](const HandleSnapshot& a, const HandleSnapshot& b) {
    return a.Descriptor < b.Descriptor;
  });
  return handles;
}

}  // namespace corvantis::minidump
