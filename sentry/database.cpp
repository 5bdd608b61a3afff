#include "sentry/database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "sentry/ids.h"

namespace corvantis::sentry {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kSuffix = ".envelope";
constexpr std::string_view kTempPrefix = ".tmp-";

bool IsEnvelopeName(const fs::path& path) {
  const std::string name = path.filename().string();
  return name.size() > kSuffix.size() && name.ends_with(kSuffix) && !name.starts_with('.');
}

// Nanoseconds of wall time and a random part: unique, and sorting by name sorts by age.
std::string NewFileName() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const auto nanos = static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL +
                     static_cast<unsigned long long>(now.tv_nsec);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%020llu-", nanos);
  return stamp + ToHex(NewUuidV4()).substr(0, 16) + std::string(kSuffix);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::vector<fs::path> SortedEnvelopes(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (IsEnvelopeName(it->path())) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

std::optional<std::string> ClaimedEnvelope::Read() const {
  std::string bytes;
  char buffer[65536];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fd_.get(), buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
}

void ClaimedEnvelope::Remove() {
  std::error_code ignored;
  fs::remove(path_, ignored);
}

Database::Database(fs::path root, DatabaseLimits limits)
    : root_(fs::absolute(root)),
      pending_(root_ / "pending"),
      aside_(root_ / "aside"),
      limits_(limits) {
  fs::create_directories(pending_);
  fs::create_directories(aside_);
}

std::optional<ClaimedEnvelope> Database::Store(std::string_view envelope) const {
  const std::string name = NewFileName();
  const fs::path temp = pending_ / (std::string(kTempPrefix) + name);
  unique_fd fd(::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd) return std::nullopt;
  // Locked before it becomes visible under its pending name.
  if (::flock(fd.get(), LOCK_EX) != 0 || !WriteAll(fd.get(), envelope) ||
      ::fsync(fd.get()) != 0 || ::rename(temp.c_str(), (pending_ / name).c_str()) != 0) {
    ::unlink(temp.c_str());
    return std::nullopt;
  }
  Trim(pending_, limits_.maxPendingFiles, limits_.maxPendingBytes);
  return ClaimedEnvelope(pending_ / name, std::move(fd));
}

std::vector<fs::path> Database::ListPending() const { return SortedEnvelopes(pending_); }

std::optional<ClaimedEnvelope> Database::Claim(const fs::path& path) const {
  // Without blocking: opening a FIFO planted under an envelope's name would wait for a writer.
  unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) {
    // Unreadable for us, but there: it can never be sent, so it must not block the rest.
    if (errno == EACCES) {
      ClaimedEnvelope stuck(path, unique_fd());
      MoveAside(stuck);
    }
    return std::nullopt;
  }
  // Anything but a regular file (a FIFO, a device, a folder) is no envelope of ours: skipped.
  struct stat status{};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  // Another process may have sent and deleted it between our open and our lock.
  if (::fstat(fd.get(), &status) != 0 || status.st_nlink == 0) return std::nullopt;
  return ClaimedEnvelope(path, std::move(fd));
}

void Database::MoveAside(ClaimedEnvelope& envelope) const {
  std::error_code error;
  fs::rename(envelope.path(), aside_ / envelope.path().filename(), error);
  if (error) fs::remove(envelope.path(), error);
  Trim(aside_, limits_.maxAsideFiles, limits_.maxPendingBytes);
}

void Database::Trim(const fs::path& folder, std::size_t maxFiles,
                    std::uintmax_t maxBytes) const noexcept {
  try {
    std::vector<fs::path> files = SortedEnvelopes(folder);
    std::uintmax_t total = 0;
    std::vector<std::uintmax_t> sizes;
    for (const fs::path& file : files) {
      std::error_code error;
      const std::uintmax_t size = fs::file_size(file, error);
      sizes.push_back(error ? 0 : size);
      total += sizes.back();
    }
    std::error_code error;
    for (size_t i = 0; i < files.size() && (files.size() - i > maxFiles || total > maxBytes);
         ++i) {
      fs::remove(files[i], error);
      total -= sizes[i];
    }
  } catch (...) {
    // Trimming is housekeeping; a failure leaves the files for the next attempt.
  }
}

}  // namespace corvantis::sentry
