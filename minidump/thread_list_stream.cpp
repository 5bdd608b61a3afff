#include "minidump/thread_list_stream.h"

#include <algorithm>

namespace corvantis::minidump {

namespace {

constexpr std::uint64_t kMaxStackBytes = 1024 * 1024;

}  // namespace

std::vector<MINIDUMP_MEMORY_DESCRIPTOR> WriteThreadListStream(MinidumpFileWriter& writer,
                                                              const ProcessSnapshot& snapshot,
                                                              TargetMemory& memory) {
  const auto count = static_cast<std::uint32_t>(snapshot.Threads.size());
  const std::size_t size = sizeof(MINIDUMP_THREAD_LIST) + count * sizeof(MINIDUMP_THREAD);
  const RVA listRva = writer.Allocate(size, 4);
  writer.WriteObject(listRva, MINIDUMP_THREAD_LIST{count});

  std::vector<MINIDUMP_MEMORY_DESCRIPTOR> stacks;
  std::vector<std::byte> buffer;
  RVA entryRva = listRva + sizeof(MINIDUMP_THREAD_LIST);
  for (const ThreadSnapshot& thread : snapshot.Threads) {
    MINIDUMP_THREAD entry{};
    entry.ThreadId = thread.ThreadId;
    entry.ThreadContext = writer.WriteBlockObject(thread.Context, 16);

    buffer.resize(static_cast<std::size_t>(std::min(thread.StackSize, kMaxStackBytes)));
    const std::size_t read = buffer.empty() ? 0 : memory.Read(thread.StackStart, buffer);
    entry.Stack.StartOfMemoryRange = thread.StackStart;
    entry.Stack.Memory = writer.WriteBlock(std::span(buffer).first(read), 16);
    if (read > 0) stacks.push_back(entry.Stack);

    writer.WriteObject(entryRva, entry);
    entryRva += sizeof(MINIDUMP_THREAD);
  }
  writer.AddStream(ThreadListStream, {static_cast<std::uint32_t>(size), listRva});
  return stacks;
}

}  // namespace corvantis::minidump
