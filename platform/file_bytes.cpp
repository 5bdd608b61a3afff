#include "platform/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace corvantis {

std::optional<std::string> ReadFileBytes(int fd, std::size_t maxBytes) {
  constexpr std::size_t kChunk = 64 * 1024;
  std::string bytes;
  for (;;) {
    const std::size_t have = bytes.size();
    // One byte past the limit shows a file that is too large.
    const std::size_t room = maxBytes - have;
    const std::size_t want = room < kChunk ? room + 1 : kChunk;
    bytes.resize(have + want);
    const ssize_t n = ::pread(fd, bytes.data() + have, want, static_cast<off_t>(have));
    const int error = errno;
    bytes.resize(have + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n < 0 && error == EINTR) continue;
    if (n < 0 || bytes.size() > maxBytes) return std::nullopt;
    if (n == 0) return bytes;
  }
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
  const unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return ReadFileBytes(fd.get());
}

unique_fd OpenRegularFile(int folder, const std::string& name, struct stat& status) {
  unique_fd fd(
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return unique_fd();
  return fd;
}

std::optional<std::string> ReadRegularFile(int folder, const std::string& name,
                                           std::size_t maxBytes) {
  struct stat status {};
  const unique_fd fd = OpenRegularFile(folder, name, status);
  if (!fd || static_cast<std::size_t>(status.st_size) > maxBytes) return std::nullopt;
  return ReadFileBytes(fd.get(), maxBytes);
}

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
  return ReadRegularFile(AT_FDCWD, path, maxBytes);
}

}  // namespace corvantis
