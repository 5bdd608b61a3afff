#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/file_bytes.h"
#include "platform/host_facts.h"

namespace corvantis {

namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\"");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\"\r");
  return text.substr(first, last - first + 1);
}

// The value after the first line that starts with `key` and `separator`, trimmed.
std::string FieldOf(const std::string& path, const std::string& key, char separator) {
  std::istringstream in(ReadFileBytes(path).value_or(""));
  std::string line;
  while (std::getline(in, line)) {
    const auto at = line.find(separator);
    if (at == std::string::npos) continue;
    if (Trim(line.substr(0, at)) == key) return Trim(line.substr(at + 1));
  }
  return {};
}

}  // namespace

HostFacts ReadHostFacts(const std::string& root) {
  const std::string base = root.empty() || root.back() == '/' ? root : root + "/";
  HostFacts facts;
  facts.CpuModel = FieldOf(base + "proc/cpuinfo", "model name", ':');
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  if (cores > 0) facts.LogicalCores = static_cast<std::uint32_t>(cores);
  // "MemTotal:       24594412 kB"
  const std::string total = FieldOf(base + "proc/meminfo", "MemTotal", ':');
  facts.MemoryBytes = std::strtoull(total.c_str(), nullptr, 10) * 1024u;
  utsname names{};
  if (uname(&names) == 0) facts.Kernel = std::string(names.sysname) + " " + names.release;
  facts.Distribution = FieldOf(base + "etc/os-release", "PRETTY_NAME", '=');
  if (facts.Distribution.empty())
    facts.Distribution = FieldOf(base + "usr/lib/os-release", "PRETTY_NAME", '=');
  return facts;
}

}  // namespace corvantis
