#include "minidump/thread_info_stream.h"

#include <vector>

namespace corvantis::minidump {

void WriteThreadInfoListStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot) {
  std::vector<MINIDUMP_THREAD_INFO> entries;
  for (const ThreadSnapshot& thread : snapshot.Threads) {
    MINIDUMP_THREAD_INFO info{};
    info.ThreadId = thread.ThreadId;
    info.CreateTime = thread.CreateTime;
    info.UserTime = thread.UserTime;
    info.KernelTime = thread.KernelTime;
    entries.push_back(info);
  }
  const MINIDUMP_THREAD_INFO_LIST header{sizeof(MINIDUMP_THREAD_INFO_LIST),
                                         sizeof(MINIDUMP_THREAD_INFO),
                                         static_cast<std::uint32_t>(entries.size())};
  writer.WriteListStream(ThreadInfoListStream, header, entries);
}

}  // namespace corvantis::minidump
