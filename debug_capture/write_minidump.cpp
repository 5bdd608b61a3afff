#include "debug_capture/write_minidump.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "minidump/byte_sink.h"
#include "minidump/dump_file_name.h"
#include "minidump/minidump_writer.h"
#include "platform/hresult_error.h"
#include "platform/module_path.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis {

namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH, terminator included

// A new file beside `path` under a name nobody can guess, 0600: a dump holds the process's memory,
// and a file planted under the dump's own name (a symlink above all) is never opened or written
// through. `temporary` receives its path.
unique_fd CreateTemporaryBeside(const std::string& path, std::string& temporary) {
  for (int attempt = 0;; ++attempt) {
    unsigned long long nonce = 0;
    if (getrandom(&nonce, sizeof nonce, 0) != sizeof nonce)
      nonce ^= (static_cast<unsigned long long>(getpid()) << 20) | static_cast<unsigned>(attempt);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".tmp-%016llx", nonce);
    temporary = path + suffix;
    unique_fd file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (file) return file;
    if (errno != EEXIST || attempt == 8) ThrowErrno(errno, path.c_str());
  }
}

// Gives the written file the dump's name, replacing whatever had it (a symlink itself, not its
// target). Raises when the name cannot be taken; the temporary file is removed then.
void TakeName(const std::string& temporary, const std::string& path) {
  if (::rename(temporary.c_str(), path.c_str()) == 0) return;
  const int error = errno;
  ::unlink(temporary.c_str());
  ThrowErrno(error, path.c_str());
}

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
  std::string temporary;
  minidump::FileSink sink(CreateTemporaryBeside(path, temporary));
  request.Target.StopAll();  // a thread left running would be missing from the dump
  try {
    minidump::WriteProcessAsMinidump(request.Target, request.ThreadId, request.Event,
                                     static_cast<std::uint32_t>(request.DumpType), sink);
  } catch (...) {
    // What was written keeps the name, as a failed write leaves its file.
    TakeName(temporary, path);
    throw;
  }
  TakeName(temporary, path);
}

void WriteMiniDump(const MiniDumpRequest& request) {
  WriteMiniDumpInDirectory(GetExecutableDirectory(), request);
}

}  // namespace corvantis
