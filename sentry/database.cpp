#include "sentry/database.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "platform/file_bytes.h"
#include "platform/safe_file.h"
#include "platform/write_all.h"
#include "sentry/ids.h"

namespace corvantis::sentry {
namespace fs = std::filesystem;
namespace {

constexpr std::string_view kSuffix = ".envelope";

bool IsEnvelopeName(std::string_view name) {
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

[[noreturn]] void Refuse(const fs::path& folder, const std::string& why) {
  throw std::runtime_error(folder.string() + " " + why);
}

// Refuses a folder that is not this user's alone.
void CheckPrivateFolder(int fd, const fs::path& shown) {
  struct stat status {};
  if (::fstat(fd, &status) != 0)
    Refuse(shown, std::string("cannot be read: ") + std::strerror(errno));
  if (!S_ISDIR(status.st_mode)) Refuse(shown, "is not a folder");
  if (status.st_uid != ::geteuid()) Refuse(shown, "belongs to another user");
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    Refuse(shown, "can be written by group or others");
}

// The folder `name` under `parent`, made 0700 when missing, and refused unless it is a real
// folder of this user's that nobody else can write to.
unique_fd OpenPrivateFolder(int parent, const char* name, const fs::path& shown) {
  const bool made = ::mkdirat(parent, name, 0700) == 0;
  if (!made && errno != EEXIST)
    Refuse(shown, std::string("cannot be made: ") + std::strerror(errno));
  unique_fd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    struct stat status {};
    if (::fstatat(parent, name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISLNK(status.st_mode)) Refuse(shown, "is a symbolic link");
      if (!S_ISDIR(status.st_mode)) Refuse(shown, "is not a folder");
    }
    Refuse(shown, std::string("cannot be opened: ") + std::strerror(error));
  }
  // The umask may have taken more than group and others; we still need to use it.
  if (made) ::fchmod(fd.get(), 0700);
  CheckPrivateFolder(fd.get(), shown);
  return fd;
}

// The names in a folder, unsorted; empty when it cannot be read.
std::vector<std::string> Names(int folder) {
  std::vector<std::string> names;
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(dir);
  return names;
}

std::vector<std::string> SortedEnvelopes(int folder) {
  std::vector<std::string> names = Names(folder);
  std::erase_if(names, [](const std::string& name) { return !IsEnvelopeName(name); });
  std::sort(names.begin(), names.end());
  return names;
}

// Deletes a regular file unless someone holds it locked (a writer or a sender, maybe in another
// process). True when it is gone.
bool RemoveUnlessLocked(int folder, const std::string& name) {
  const unique_fd fd(
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return false;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  return ::unlinkat(folder, name.c_str(), 0) == 0;
}

}  // namespace

std::optional<std::string> ClaimedEnvelope::Read() const {
  return ReadFileBytes(fd_.get(), maxBytes_);
}

void ClaimedEnvelope::Remove() { ::unlinkat(folder_, path_.filename().c_str(), 0); }

Database::Database(fs::path root, DatabaseLimits limits)
    : root_(fs::absolute(root)), limits_(limits) {
  rootFd_ = OpenPrivateFolder(AT_FDCWD, root_.c_str(), root_);
  OpenSubfolders();
}

Database::Database(unique_fd root, fs::path shown, DatabaseLimits limits)
    : root_(std::move(shown)), rootFd_(std::move(root)), limits_(limits) {
  if (!rootFd_) Refuse(root_, "is not open");
  CheckPrivateFolder(rootFd_.get(), root_);
  OpenSubfolders();
}

void Database::OpenSubfolders() {
  pending_ = OpenPrivateFolder(rootFd_.get(), "pending", root_ / "pending");
  aside_ = OpenPrivateFolder(rootFd_.get(), "aside", root_ / "aside");
  RemoveStaleTemporaries();
}

void Database::RemoveStaleTemporaries() const noexcept {
  try {
    const auto now = std::chrono::system_clock::now();
    for (const std::string& name : Names(pending_.get())) {
      struct stat status {};
      if (!IsTemporaryName(name) ||
          ::fstatat(pending_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        continue;
      }
      const auto modified = std::chrono::system_clock::from_time_t(status.st_mtim.tv_sec);
      if (now - modified >= limits_.StaleTemporaryAge) RemoveUnlessLocked(pending_.get(), name);
    }
  } catch (...) {
    // Housekeeping; what stays is tried again at the next start.
  }
}

std::optional<ClaimedEnvelope> Database::Store(std::string_view envelope) const {
  if (!Fits(envelope.size())) return std::nullopt;
  const std::string name = NewFileName();
  NewFile file(pending_.get(), name, FileReaders::UserOnly);
  // Locked before it becomes visible under its pending name; the lock stays with our copy of the
  // descriptor after the commit closes the file's own.
  unique_fd fd(::fcntl(file.fd(), F_DUPFD_CLOEXEC, 0));
  if (!fd || ::flock(fd.get(), LOCK_EX) != 0 || !file.Write(envelope) ||
      file.Commit(ExistingName::Keep, /*sync=*/true) != 0) {
    return std::nullopt;
  }
  {
    const std::lock_guard lock(storedMutex_);
    stored_.insert(name);
  }
  Trim(pending_.get(), limits_.MaxPendingFiles, limits_.MaxPendingBytes);
  return ClaimedEnvelope(pending_.get(), root_ / "pending" / name, std::move(fd),
                         limits_.MaxPendingBytes);
}

std::vector<fs::path> Database::ListPending() const {
  std::vector<fs::path> paths;
  for (const std::string& name : SortedEnvelopes(pending_.get())) {
    paths.push_back(root_ / "pending" / name);
  }
  return paths;
}

std::optional<ClaimedEnvelope> Database::Claim(const fs::path& path) const {
  const std::string name = path.filename().string();
  // Without blocking: opening a FIFO planted under an envelope's name would wait for a writer.
  unique_fd fd(::openat(pending_.get(), name.c_str(),
                        O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) {
    // Unreadable for us, but there: it can never be sent, so it must not block the rest.
    if (errno == EACCES) {
      ClaimedEnvelope stuck(pending_.get(), path, unique_fd(), 0);
      MoveAside(stuck, "unreadable");
    }
    return std::nullopt;
  }
  // Anything but a regular file (a FIFO, a device, a folder) is no envelope of ours: skipped.
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return std::nullopt;
  // Another process may have sent and deleted it between our open and our lock.
  if (::fstat(fd.get(), &status) != 0 || status.st_nlink == 0) return std::nullopt;
  ClaimedEnvelope claimed(pending_.get(), root_ / "pending" / name, std::move(fd),
                          limits_.MaxPendingBytes);
  // No envelope of ours is this large: reading it would only cost memory and time.
  if (static_cast<std::uintmax_t>(status.st_size) > limits_.MaxPendingBytes) {
    MoveAside(claimed, "too-large");
    return std::nullopt;
  }
  return claimed;
}

void Database::MoveAside(ClaimedEnvelope& envelope, std::string_view reason) const {
  const std::string name = envelope.Path().filename().string();
  const std::string asideName = name + "." + std::string(reason);
  std::fprintf(stderr, "Event client: %s set aside as %.*s\n", envelope.Path().c_str(),
               static_cast<int>(reason.size()), reason.data());
  if (::renameat(pending_.get(), name.c_str(), aside_.get(), asideName.c_str()) != 0) {
    ::unlinkat(pending_.get(), name.c_str(), 0);
  }
  Trim(aside_.get(), limits_.MaxAsideFiles, limits_.MaxPendingBytes);
}

std::optional<std::string> Database::ReadFile(const std::string& name, std::size_t maxBytes) const {
  const unique_fd fd(::openat(rootFd_.get(), name.c_str(),
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  if (!fd || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::uintmax_t>(status.st_size) > maxBytes) {
    return std::nullopt;
  }
  return ReadFileBytes(fd.get(), maxBytes);
}

bool Database::StoredByThisRun(const std::string& name) const {
  const std::lock_guard lock(storedMutex_);
  return stored_.contains(name);
}

bool Database::ReplaceFile(const std::string& name, std::string_view bytes) const {
  NewFile file(rootFd_.get(), name, FileReaders::UserOnly);
  file.Write(bytes);
  return file.Commit(ExistingName::ReplaceAny) == 0;
}

void Database::RemoveFile(const std::string& name) const {
  ::unlinkat(rootFd_.get(), name.c_str(), 0);
}

void Database::Trim(int folder, std::size_t maxFiles, std::uintmax_t maxBytes) const noexcept {
  try {
    const bool pending = folder == pending_.get();
    std::vector<std::string> names = Names(folder);
    std::sort(names.begin(), names.end());
    struct Candidate {
      int Rank;  // who goes first: 0 cannot fit at all, 1 earlier runs', 2 this run's
      std::string Name;
      std::uintmax_t Size;
    };
    std::vector<Candidate> candidates;
    std::size_t count = 0;
    std::uintmax_t total = 0;
    for (std::string& name : names) {
      struct stat status {};
      if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISREG(status.st_mode)) {
        continue;
      }
      // A store in progress takes room too, but is never deleted here.
      const bool temporary = pending && IsTemporaryName(name);
      if (pending && !temporary && !IsEnvelopeName(name)) continue;
      const auto size = static_cast<std::uintmax_t>(status.st_size);
      ++count;
      total += size;
      if (temporary) continue;
      const int rank = size > maxBytes ? 0 : pending && StoredByThisRun(name) ? 2 : 1;
      candidates.push_back({rank, std::move(name), size});
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.Rank < b.Rank; });
    for (const Candidate& candidate : candidates) {
      if (count <= maxFiles && total <= maxBytes) break;
      if (!RemoveUnlessLocked(folder, candidate.Name)) continue;
      --count;
      total -= candidate.Size;
    }
  } catch (...) {
    // Trimming is housekeeping; a failure leaves the files for the next attempt.
  }
}

}  // namespace corvantis::sentry
