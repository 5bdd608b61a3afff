#include "minidump/memory_list_stream.h"

#include <algorithm>

namespace corvantis::minidump {

namespace {

constexpr std::size_t kChunkBytes = 1024 * 1024;

bool StartsWith(const std::string& text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Reads [start, end) in chunks straight into the file from `offset`; returns the bytes written,
// stopping at the first short read.
std::uint64_t CopyRange(MinidumpFileWriter& writer, TargetMemory& memory, std::uint64_t start,
                        std::uint64_t end, std::uint64_t offset, std::vector<std::byte>& buffer) {
  std::uint64_t copied = 0;
  while (start + copied < end) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), end - start - copied));
    const std::size_t read = memory.Read(start + copied, std::span(buffer).first(want));
    writer.WriteAt(offset + copied, std::span(buffer).first(read));
    copied += read;
    if (read < want) break;
  }
  return copied;
}

}  // namespace

void WriteMemoryListStream(MinidumpFileWriter& writer,
                           std::span<const MINIDUMP_MEMORY_DESCRIPTOR> ranges) {
  const auto count = static_cast<std::uint32_t>(ranges.size());
  const std::size_t size =
      sizeof(MINIDUMP_MEMORY_LIST) + count * sizeof(MINIDUMP_MEMORY_DESCRIPTOR);
  const RVA rva = writer.Allocate(size, 4);
  writer.WriteObject(rva, MINIDUMP_MEMORY_LIST{count});
  writer.WriteAt(rva + sizeof(MINIDUMP_MEMORY_LIST), std::as_bytes(ranges));
  writer.AddStream(MemoryListStream, {static_cast<std::uint32_t>(size), rva});
}

bool IsDumpableMapping(const MemoryMapping& mapping) {
  if (!mapping.Readable || mapping.End <= mapping.Start) return false;
  if (mapping.Path == "[vvar]" || mapping.Path == "[vsyscall]") return false;
  if (StartsWith(mapping.Path, "/dev/"))
    return StartsWith(mapping.Path, "/dev/shm/") || StartsWith(mapping.Path, "/dev/zero");
  return true;
}

void WriteMemory64ListStream(MinidumpFileWriter& writer, std::span<const MemoryMapping> mappings,
                             TargetMemory& memory) {
  std::vector<const MemoryMapping*> candidates;
  for (const MemoryMapping& mapping : mappings)
    if (IsDumpableMapping(mapping)) candidates.push_back(&mapping);

  // The list goes first, sized for every candidate; it is filled in once the bytes are written.
  const std::size_t capacity =
      sizeof(MINIDUMP_MEMORY64_LIST) + candidates.size() * sizeof(MINIDUMP_MEMORY_DESCRIPTOR64);
  const RVA listRva = writer.Allocate(capacity, 8);
  const std::uint64_t baseRva = writer.Allocate64(0, 16);

  std::vector<MINIDUMP_MEMORY_DESCRIPTOR64> ranges;
  std::vector<std::byte> buffer(kChunkBytes);
  std::uint64_t offset = baseRva;
  for (const MemoryMapping* mapping : candidates) {
    const std::uint64_t copied =
        CopyRange(writer, memory, mapping->Start, mapping->End, offset, buffer);
    if (copied == 0) continue;
    writer.Allocate64(copied, 1);
    ranges.push_back({mapping->Start, copied});
    offset += copied;
  }

  writer.WriteObject(listRva, MINIDUMP_MEMORY64_LIST{ranges.size(), baseRva});
  writer.WriteAt(listRva + sizeof(MINIDUMP_MEMORY64_LIST), std::as_bytes(std::span(ranges)));
  const std::size_t size =
      sizeof(MINIDUMP_MEMORY64_LIST) + ranges.size() * sizeof(MINIDUMP_MEMORY_DESCRIPTOR64);
  writer.AddStream(Memory64ListStream, {static_cast<std::uint32_t>(size), listRva});
}

}  // namespace corvantis::minidump
