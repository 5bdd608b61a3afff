#include <cpuid.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "minidump/system_snapshot.h"

namespace corvantis::minidump {

SystemSnapshot ReadSystemSnapshot() {
  SystemSnapshot system;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
    system.CpuVendor[0] = ebx;
    system.CpuVendor[1] = edx;
    system.CpuVendor[2] = ecx;
  }
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
    system.CpuVersion = eax;
    system.CpuFeatures = edx;
    std::uint32_t family = (eax >> 8) & 0xF;
    std::uint32_t model = (eax >> 4) & 0xF;
    if (family == 0xF) family += (eax >> 20) & 0xFF;
    if (family >= 0x6) model |= ((eax >> 16) & 0xF) << 4;
    system.ProcessorLevel = static_cast<std::uint16_t>(family);
    system.ProcessorRevision = static_cast<std::uint16_t>((model << 8) | (eax & 0xF));
  }
  // "AuthenticAMD" in EBX, EDX, ECX order.
  if (system.CpuVendor[0] == 0x68747541 && __get_cpuid(0x80000001, &eax, &ebx, &ecx, &edx))
    system.AmdExtendedFeatures = ebx;
  const long processors = sysconf(_SC_NPROCESSORS_CONF);
  system.NumberOfProcessors = static_cast<std::uint8_t>(std::clamp(processors, 1L, 255L));

  utsname name{};
  if (uname(&name) == 0) {
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(name.release, "%u.%u.%u", &major, &minor, &build);
    system.MajorVersion = major;
    system.MinorVersion = minor;
    system.BuildNumber = build;
    system.OsVersion = std::string(name.release) + " " + name.version + " " + name.machine;
  }
  return system;
}

}  // namespace corvantis::minidump
