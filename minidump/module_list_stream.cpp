#include "minidump/module_list_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace corvantis::minidump {

void WriteModuleListStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot) {
  const auto count = static_cast<std::uint32_t>(snapshot.Modules.size());
  const std::size_t size = sizeof(MINIDUMP_MODULE_LIST) + count * sizeof(MINIDUMP_MODULE);
  const RVA listRva = writer.Allocate(size, 4);
  writer.WriteObject(listRva, MINIDUMP_MODULE_LIST{count});

  RVA entryRva = listRva + sizeof(MINIDUMP_MODULE_LIST);
  for (const ModuleSnapshot& module : snapshot.Modules) {
    MINIDUMP_MODULE entry{};
    entry.BaseOfImage = module.Base;
    entry.SizeOfImage = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(module.Size, std::numeric_limits<std::uint32_t>::max()));
    entry.ModuleNameRva = writer.WriteString(module.Path);
    if (!module.BuildId.empty()) {
      std::vector<std::byte> record(sizeof(CV_INFO_ELF_HEADER) + module.BuildId.size());
      const CV_INFO_ELF_HEADER header{CV_SIGNATURE_ELF};
      std::memcpy(record.data(), &header, sizeof(header));
      std::memcpy(record.data() + sizeof(header), module.BuildId.data(), module.BuildId.size());
      entry.CvRecord = writer.WriteBlock(record, 4);
    }
    writer.WriteObject(entryRva, entry);
    entryRva += sizeof(MINIDUMP_MODULE);
  }
  writer.AddStream(ModuleListStream, {static_cast<std::uint32_t>(size), listRva});
}

}  // namespace corvantis::minidump
