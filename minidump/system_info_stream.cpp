#include "minidump/system_info_stream.h"

#include <cstring>

namespace corvantis::minidump {

void WriteSystemInfoStream(MinidumpFileWriter& writer, const SystemSnapshot& system) {
  MINIDUMP_SYSTEM_INFO info{};
  info.ProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
  info.ProcessorLevel = system.ProcessorLevel;
  info.ProcessorRevision = system.ProcessorRevision;
  info.NumberOfProcessors = system.NumberOfProcessors;
  info.ProductType = VER_NT_WORKSTATION;
  info.MajorVersion = system.MajorVersion;
  info.MinorVersion = system.MinorVersion;
  info.BuildNumber = system.BuildNumber;
  info.PlatformId = PLATFORM_ID_LINUX;
  info.CSDVersionRva = writer.WriteString(system.OsVersion);
  std::memcpy(info.Cpu.VendorId, system.CpuVendor, sizeof(info.Cpu.VendorId));
  info.Cpu.VersionInformation = system.CpuVersion;
  info.Cpu.FeatureInformation = system.CpuFeatures;
  info.Cpu.AMDExtendedCpuFeatures = system.AmdExtendedFeatures;
  writer.AddStream(SystemInfoStream, writer.WriteBlockObject(info, 4));
}

}  // namespace corvantis::minidump
