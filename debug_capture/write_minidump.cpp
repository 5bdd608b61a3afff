#include "debug_capture/write_minidump.h"

#include "minidump/byte_sink.h"
#include "minidump/dump_file_name.h"
#include "minidump/minidump_writer.h"
#include "platform/hresult_error.h"
#include "platform/module_path.h"
#include "platform/safe_file.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis {

namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH, terminator included

}  // namespace

std::wstring MiniDumpPath(const std::wstring& directory,
                          const std::vector<std::wstring>& nameParts) {
  std::wstring path = directory;
  if (path.empty() || path.back() != L'/') path += L'/';
  path += minidump::DumpFileName(nameParts);
  if (path.size() >= kMaxPath)
    throw hresult_error(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), L"dump path too long");
  return path;
}

void WriteMiniDumpInDirectory(const std::wstring& directory, const MiniDumpRequest& request) {
  const std::string path = WideToUtf8Lossy(MiniDumpPath(directory, request.NameParts));
  // A dump holds the process's memory: 0600, and whatever had the name (a symlink above all) is
  // replaced, never written through.
  NewFile file(path, FileReaders::UserOnly);
  if (file.error() != 0) ThrowErrno(file.error(), path.c_str());
  const auto takeName = [&] {
    if (const int error = file.Commit(ExistingName::ReplaceAny); error != 0)
      ThrowErrno(error, path.c_str());
  };
  minidump::FileSink sink(file.fd());
  request.Target.StopAll();  // a thread left running would be missing from the dump
  try {
    minidump::WriteProcessAsMinidump(request.Target, request.ThreadId, request.Event,
                                     static_cast<std::uint32_t>(request.DumpType), sink);
  } catch (...) {
    // What was written keeps the name, as a failed write leaves its file.
    takeName();
    throw;
  }
  takeName();
}

void WriteMiniDump(const MiniDumpRequest& request) {
  WriteMiniDumpInDirectory(GetExecutableDirectory(), request);
}

}  // namespace corvantis
