#include "sentry/handler/process_minidump_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "minidump/byte_sink.h"
#include "minidump/dump_file_name.h"
#include "minidump/minidump_writer.h"
#include "platform/debug_output.h"
#include "platform/fault_debug_event.h"
#include "platform/file_bytes.h"
#include "platform/ptrace_connection_linux.h"
#include "platform/unique_fd.h"
#include "platform/utf.h"
#include "sentry/database.h"

namespace corvantis::sentry {
namespace fs = std::filesystem;
namespace {

// Threads with their stacks, modules, the exception and the /proc streams: what a stack trace
// needs, and small enough to send.
constexpr std::uint32_t kDumpType = 0;

// The names in the open folder `folder`; empty when it cannot be read.
std::vector<std::string> FolderNames(int folder) {
  std::vector<std::string> names;
  const int copy = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return names;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return names;
  }
  // The copy shares the original's offset: start from the top.
  ::rewinddir(dir);
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  return names;
}

}  // namespace

std::optional<std::string> ReadDebuggerDump(const fs::path& folder, const std::string& program,
                                            pid_t pid, const DebuggerDumpBounds& bounds) {
  const unique_fd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory) return std::nullopt;
  const auto acceptable = [&](const struct stat& status) {
    const auto written = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(status.st_mtim.tv_sec) +
            std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
    return S_ISREG(status.st_mode) && status.st_uid == bounds.Owner && status.st_nlink == 1 &&
           static_cast<std::size_t>(status.st_size) <= bounds.MaxBytes &&
           written >= bounds.NotBefore && written <= bounds.NotAfter;
  };
  const std::wstring programName = Utf8ToWide(program);
  std::optional<std::string> newest;
  timespec newestTime{};
  const auto newer = [](const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
  };
  for (const std::string& name : FolderNames(directory.get())) {
    if (!minidump::IsDebugExceptionDumpOf(Utf8ToWide(name), programName, pid)) continue;
    struct stat status {};
    if (::fstatat(directory.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !acceptable(status) || (newest && !newer(status.st_mtim, newestTime)))
      continue;
    newest = name;
    newestTime = status.st_mtim;
  }
  if (!newest) return std::nullopt;
  // Checked again on what was opened: the name may have been replaced since.
  struct stat status {};
  const unique_fd file = OpenRegularFile(directory.get(), *newest, status);
  if (!file || !acceptable(status)) return std::nullopt;
  auto bytes = ReadFileBytes(file.get(), bounds.MaxBytes);
  if (!bytes || bytes->empty()) return std::nullopt;
  return bytes;
}

std::optional<std::chrono::system_clock::time_point> ProcessStartTime(pid_t pid) {
  // Field 22 of stat counts clock ticks from the boot, which /proc/stat's btime dates.
  const auto stat = ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
  const auto machine = ReadFileBytes("/proc/stat");
  if (!stat || !machine) return std::nullopt;
  const std::size_t afterName = stat->rfind(')');
  const std::size_t bootField = machine->find("\nbtime ");
  if (afterName == std::string::npos || bootField == std::string::npos) return std::nullopt;
  std::istringstream fields(stat->substr(afterName + 1));
  std::string field;
  for (int i = 3; i < 22; ++i) fields >> field;
  unsigned long long ticks = 0;
  long long bootSeconds = 0;
  if (!(fields >> ticks) ||
      std::sscanf(machine->c_str() + bootField, "\nbtime %lld", &bootSeconds) != 1)
    return std::nullopt;
  const long perSecond = ::sysconf(_SC_CLK_TCK);
  if (perSecond <= 0) return std::nullopt;
  return std::chrono::system_clock::time_point(std::chrono::seconds(bootSeconds)) +
         std::chrono::duration_cast<std::chrono::system_clock::duration>(
             std::chrono::duration<double>(static_cast<double>(ticks) / perSecond));
}

std::optional<std::string> ProcessMinidumpSource::Write(const CrashRequest& request) {
  if (TracerPid(request.Pid) != 0) {
    // Only one tracer at a time: the debugger child has the process and writes its own dumps.
    std::error_code error;
    const fs::path program =
        fs::read_symlink("/proc/" + std::to_string(request.Pid) + "/exe", error);
    if (error) return std::nullopt;
    const auto started = ProcessStartTime(request.Pid);
    if (!started) return std::nullopt;
    // btime has whole seconds; a dump of this run is never older than that.
    const DebuggerDumpBounds bounds{::geteuid(), DatabaseLimits{}.MaxPendingBytes,
                                    *started - std::chrono::seconds(1),
                                    std::chrono::system_clock::now() + std::chrono::seconds(1)};
    return ReadDebuggerDump(program.parent_path(), program.filename().string(), request.Pid,
                            bounds);
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
