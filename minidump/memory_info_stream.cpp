#include "minidump/memory_info_stream.h"

#include <vector>

namespace corvantis::minidump {

namespace {

const ModuleSnapshot* ModuleAt(const ProcessSnapshot& snapshot, const MemoryMapping& mapping) {
  for (const ModuleSnapshot& module : snapshot.Modules) {
    if (module.Path == mapping.Path && mapping.Start >= module.Base &&
        mapping.End <= module.Base + module.Size)
      return &module;
  }
  return nullptr;
}

}  // namespace

std::uint32_t PageProtection(const MemoryMapping& mapping) {
  const bool copyOnWrite =
      mapping.Writable && !mapping.Shared && !mapping.Path.empty() && mapping.Path.front() != '[';
  if (mapping.Executable) {
    if (!mapping.Readable) return PAGE_EXECUTE;
    if (!mapping.Writable) return PAGE_EXECUTE_READ;
    return copyOnWrite ? PAGE_EXECUTE_WRITECOPY : PAGE_EXECUTE_READWRITE;
  }
  if (!mapping.Readable) return PAGE_NOACCESS;
  if (!mapping.Writable) return PAGE_READONLY;
  return copyOnWrite ? PAGE_WRITECOPY : PAGE_READWRITE;
}

void WriteMemoryInfoListStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot) {
  std::vector<MINIDUMP_MEMORY_INFO> entries;
  entries.reserve(snapshot.Mappings.size());
  for (const MemoryMapping& mapping : snapshot.Mappings) {
    MINIDUMP_MEMORY_INFO info{};
    const ModuleSnapshot* module = ModuleAt(snapshot, mapping);
    info.BaseAddress = mapping.Start;
    info.AllocationBase = module ? module->Base : mapping.Start;
    info.Protect = PageProtection(mapping);
    info.AllocationProtect = info.Protect;
    info.RegionSize = mapping.End - mapping.Start;
    info.State = MEM_COMMIT;
    info.Type = module                                                  ? MEM_IMAGE
                : (mapping.Path.empty() || mapping.Path.front() == '[') ? MEM_PRIVATE
                                                                        : MEM_MAPPED;
    entries.push_back(info);
  }
  const MINIDUMP_MEMORY_INFO_LIST header{sizeof(MINIDUMP_MEMORY_INFO_LIST),
                                         sizeof(MINIDUMP_MEMORY_INFO), entries.size()};
  writer.WriteListStream(MemoryInfoListStream, header, entries);
}

}  // namespace corvantis::minidump
