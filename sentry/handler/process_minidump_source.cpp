#include "sentry/handler/process_minidump_source.h"

#include "minidump/byte_sink.h"
#include "minidump/dump_file_name.h"
#include "minidump/minidump_writer.h"
#include "platform/debug_output.h"
#include "platform/fault_debug_event.h"
#include "platform/file_bytes.h"
#include "platform/ptrace_connection_linux.h"
#include "platform/utf.h"

namespace corvantis::sentry {
namespace fs = std::filesystem;
namespace {

// Threads with their stacks, modules, the exception and the /proc streams: what a stack trace
// needs, and small enough to send.
constexpr std::uint32_t kDumpType = 0;

}  // namespace

std::optional<fs::path> NewestDebuggerDump(const fs::path& folder, const std::string& program,
                                           pid_t pid) {
  const std::wstring programName = Utf8ToWide(program);
  std::optional<fs::path> newest;
  fs::file_time_type newestTime{};
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::wstring name = Utf8ToWide(it->path().filename().string());
    if (!minidump::IsDebugExceptionDumpOf(name, programName, pid)) continue;
    std::error_code timeError;
    const auto time = fs::last_write_time(it->path(), timeError);
    if (timeError) continue;
    if (!newest || time > newestTime) {
      newest = it->path();
      newestTime = time;
    }
  }
  return newest;
}

std::optional<std::string> ProcessMinidumpSource::Write(const CrashRequest& request) {
  if (TracerPid(request.Pid) != 0) {
    // Only one tracer at a time: the debugger child has the process and writes its own dumps.
    std::error_code error;
    const fs::path program =
        fs::read_symlink("/proc/" + std::to_string(request.Pid) + "/exe", error);
    if (error) return std::nullopt;
    const auto dump =
        NewestDebuggerDump(program.parent_path(), program.filename().string(), request.Pid);
    if (!dump) return std::nullopt;
    // Only a file the child wrote: a link or a FIFO planted under a dump's name is passed over.
    auto bytes = ReadRegularFile(*dump, kAnyFileSize);
    if (!bytes || bytes->empty()) return std::nullopt;
    return bytes;
  }
  LinuxPtraceConnection target;
  if (!target.Attach(request.Pid)) return std::nullopt;
  DebugEventData event{};
  event.Record = FaultExceptionRecord(request.Signal, request.Info, request.Context);
  event.ContextAddress = request.ContextAddress;
  event.Signal = request.Signal;
  minidump::StringSink sink;
  minidump::WriteProcessAsMinidump(target, request.Tid, event, kDumpType, sink);
  return sink.Bytes();
}

}  // namespace corvantis::sentry
