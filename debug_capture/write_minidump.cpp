#include "debug_capture/write_minidump.h"

#include <fcntl.h>

#include <cerrno>

#include "debug_capture/minidump/byte_sink.h"
#include "debug_capture/minidump/minidump_writer.h"
#include "debug_capture/minidump/process_reader.h"
#include "platform/hresult_error.h"
#include "platform/module_path.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

using namespace corvantis::minidump;

namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH, terminator included

}  // namespace

std::wstring MiniDumpPath(const std::wstring& directory, const std::vector<std::wstring>& nameParts) {
  std::wstring path = directory;
  if (path.empty() || path.back() != L'/') path += L'/';
  for (std::size_t i = 0; i < nameParts.size(); ++i) {
    if (i > 0) path += L'-';
    path += nameParts[i];
  }
  path += L".dmp";
  if (path.size() >= kMaxPath)
    throw hresult_error(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), L"dump path too long");
  return path;
}

void WriteMiniDumpInDirectory(const std::wstring& directory, PtraceConnection& target,
                              pid_t threadId, const DebugEventData& event,
                              const std::vector<std::wstring>& nameParts, std::int32_t dumpType) {
  const std::string path = WideToUtf8Lossy(MiniDumpPath(directory, nameParts));
  unique_fd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!file) ThrowErrno(errno, path.c_str());
  FileSink sink(std::move(file));

  const auto type = static_cast<std::uint32_t>(dumpType);
  target.StopAll();  // a thread left running would be missing from the dump
  const ProcessSnapshot snapshot = ReadProcessSnapshot(target);
  if (threadId != 0) {
    if (const auto context = ReadExceptionContext(target, threadId, event)) {
      ProcessSnapshot withException = snapshot;
      SetException(withException, threadId, event.Record, *context);
      try {
        WriteMinidump(withException, target.Memory(), type, sink);
        return;
      } catch (const hresult_error&) {
        sink.Truncate();
      }
    }
  }
  WriteMinidump(snapshot, target.Memory(), type, sink);
}

void WriteMiniDump(pid_t, PtraceConnection& target, pid_t threadId, const DebugEventData& event,
                   const std::vector<std::wstring>& nameParts, std::int32_t dumpType) {
  WriteMiniDumpInDirectory(GetExecutableDirectory(), target, threadId, event, nameParts, dumpType);
}
