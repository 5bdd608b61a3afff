#include "minidump/minidump_writer.h"

#include "minidump/exception_stream.h"
#include "minidump/handle_data_stream.h"
#include "minidump/linux_streams.h"
#include "minidump/memory_info_stream.h"
#include "minidump/memory_list_stream.h"
#include "minidump/minidump_file_writer.h"
#include "minidump/module_list_stream.h"
#include "minidump/process_reader.h"
#include "minidump/system_info_stream.h"
#include "minidump/thread_info_stream.h"
#include "minidump/thread_list_stream.h"

namespace corvantis::minidump {

namespace {

// System, threads, exception, modules, handles, thread times, regions, memory, full memory.
constexpr std::uint32_t kFixedStreams = 9;

}  // namespace

void WriteSnapshotAsMinidump(const ProcessSnapshot& snapshot, TargetMemory& memory,
                             std::uint32_t dumpType, ByteSink& sink) {
  MinidumpFileWriter writer(sink,
                            kFixedStreams + static_cast<std::uint32_t>(snapshot.RawStreams.size()));
  WriteSystemInfoStream(writer, snapshot.System);
  const auto stacks = WriteThreadListStream(writer, snapshot, memory);
  if (snapshot.Exception) WriteExceptionStream(writer, *snapshot.Exception);
  WriteModuleListStream(writer, snapshot);
  WriteRawStreams(writer, snapshot.RawStreams);
  if (dumpType & MiniDumpWithHandleData) WriteHandleDataStream(writer, snapshot);
  if (dumpType & MiniDumpWithThreadInfo) WriteThreadInfoListStream(writer, snapshot);
  if (dumpType & MiniDumpWithFullMemoryInfo) WriteMemoryInfoListStream(writer, snapshot);
  WriteMemoryListStream(writer, stacks);
  if (dumpType & MiniDumpWithFullMemory) WriteMemory64ListStream(writer, snapshot.Mappings, memory);
  writer.Finish(snapshot.TimeDateStamp, dumpType);
}

void WriteProcessAsMinidump(PtraceConnection& target, pid_t threadId, const DebugEventData& event,
                            std::uint32_t dumpType, ByteSink& sink) {
  const ProcessSnapshot snapshot = ReadProcessSnapshot(target);
  if (threadId != 0) {
    try {
      // The thread as it was at the fault, not as it now waits in a signal handler.
      if (const auto context = ReadExceptionContext(target, threadId, event)) {
        ProcessSnapshot withException = snapshot;
        SetException(withException, threadId, event.Record, *context, event.Signal);
        WriteSnapshotAsMinidump(withException, target.Memory(), dumpType, sink);
        return;
      }
    } catch (...) {
      // Whatever failed, the dump is still written without the exception.
      sink.Truncate();
    }
  }
  WriteSnapshotAsMinidump(snapshot, target.Memory(), dumpType, sink);
}

}  // namespace corvantis::minidump
