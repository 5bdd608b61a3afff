// The dumped process's maps text and memory are whatever a crashing process left: maps parsing,
// the ELF header and note walk of module discovery, and the whole writer run over any of them.
// Input: two bytes of maps-text length, the maps text, then the memory image mapped at kBase.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "minidump/byte_sink.h"
#include "minidump/elf_modules.h"
#include "minidump/minidump_writer.h"
#include "minidump/proc_maps.h"
#include "tests/fakes/fake_memory.h"

using namespace corvantis;

namespace {

using namespace corvantis::minidump;

constexpr std::uint64_t kBase = 0x400000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t mapsSize = std::min<std::size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string_view maps(reinterpret_cast<const char*>(data + 2), mapsSize);
  fakes::FakeMemory memory;
  memory.Put(kBase, std::string_view(reinterpret_cast<const char*>(data + 2 + mapsSize),
                                     size - 2 - mapsSize));

  ProcessSnapshot snapshot;
  snapshot.Mappings = ParseProcMaps(maps);
  for (const MemoryMapping& mapping : snapshot.Mappings) FUZZ_CHECK(mapping.End > mapping.Start);
  snapshot.Modules = FindModules(snapshot.Mappings, memory);
  for (const ModuleSnapshot& module : snapshot.Modules) {
    FUZZ_CHECK(FindMapping(snapshot.Mappings, module.Base) != nullptr);
    FUZZ_CHECK(module.BuildId.size() <= 64 * 1024);
  }
  (void)ReadElfBuildId(memory, kBase);

  ThreadSnapshot thread;
  thread.ThreadId = 1;
  thread.StackStart = kBase;
  thread.StackSize = size;
  snapshot.Threads.push_back(thread);
  snapshot.RawStreams.push_back({LinuxMapsStream, std::string(maps)});
  StringSink sink;
  WriteSnapshotAsMinidump(snapshot, memory, 0x1826, sink);
  FUZZ_CHECK(sink.Bytes().compare(0, 4, "MDMP") == 0);
  return 0;
}
