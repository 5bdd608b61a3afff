#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace corvantis::sentry {

// The folder the client keeps its envelopes in unless told otherwise, relative to the current
// directory (sentry-native's default).
inline constexpr std::string_view kDefaultDatabasePath = ".sentry-native";

struct DatabaseLimits {
  // Beyond either bound pending envelopes are deleted, so a crash loop cannot fill the disk: first
  // a file larger than the byte bound on its own, then earlier runs' oldest first, this run's
  // last. An envelope larger than MaxPendingBytes is not stored, nor read.
  std::uintmax_t MaxPendingBytes = 32u << 20;
  std::size_t MaxPendingFiles = 64;
  std::size_t MaxAsideFiles = 16;
  // A temporary file this old is what an interrupted store left behind.
  std::chrono::seconds StaleTemporaryAge{300};
};

// One pending envelope file, locked (flock) by this process for as long as the object lives, so
// that no other process sends it meanwhile. Must not outlive its Database.
class ClaimedEnvelope {
 public:
  ClaimedEnvelope(int folder, std::filesystem::path path, unique_fd fd, std::size_t maxBytes)
      : folder_(folder), path_(std::move(path)), fd_(std::move(fd)), maxBytes_(maxBytes) {}
  const std::filesystem::path& Path() const { return path_; }
  // The whole file; nullopt when it cannot be read or has grown beyond the folder's byte bound.
  std::optional<std::string> Read() const;
  // Deletes the file (after the service accepted it).
  void Remove();

 private:
  int folder_;
  std::filesystem::path path_;
  unique_fd fd_;
  std::size_t maxBytes_;
};

// Envelopes waiting to be sent: one file each in <root>/pending, named so that names sort oldest
// first; files that are too large, unreadable, corrupt or refused are moved to <root>/aside under
// a name that ends in the reason, which is also written to stderr. The folders
// are this user's alone (0700, files 0600), reached through descriptors opened once, so nobody
// can redirect a write by renaming or planting a link.
class Database {
 public:
  // Opens the folders, making missing ones 0700, and removes temporary files that an
  // interrupted store left. Throws std::runtime_error saying why when a folder cannot be made,
  // or is not a folder, is a symbolic link, belongs to another user or can be written by group
  // or others.
  explicit Database(std::filesystem::path root, DatabaseLimits limits = {});
  // The same over a folder already open (as another process hands it over); `shown` names it in
  // messages and paths. Throws as above, also when `root` is not open.
  Database(unique_fd root, std::filesystem::path shown, DatabaseLimits limits = {});

  // The open folder everything is reached through, for handing to another process; lives as long
  // as this object.
  int RootFd() const { return rootFd_.get(); }
  // Whether an envelope of this size can be stored at all.
  bool Fits(std::size_t bytes) const { return bytes <= limits_.MaxPendingBytes; }
  // Writes under a temporary name and renames into pending, so a half-written file is never
  // pending; then trims pending to the limits, skipping files another holder has locked. The new
  // file comes back claimed; nullopt when it does not fit or could not be written (what was
  // pending stays).
  std::optional<ClaimedEnvelope> Store(std::string_view envelope) const;
  // Pending envelope files, oldest first.
  std::vector<std::filesystem::path> ListPending() const;
  // nullopt when another process holds the file, it is gone, or it is not a regular file (never
  // followed through a symlink, never waited on); one beyond the byte bound is set aside unread.
  std::optional<ClaimedEnvelope> Claim(const std::filesystem::path& path) const;
  // Moves the file aside as "<name>.<reason>" (keeping the newest few there); never throws.
  void MoveAside(ClaimedEnvelope& envelope, std::string_view reason) const;

  // Replaces <root>/<name> as a whole, 0600, through NewFile: whatever had the name, a link
  // included, is replaced, never written through. False when it could not be written; never throws.
  bool ReplaceFile(const std::string& name, std::string_view bytes) const;
  void RemoveFile(const std::string& name) const;
  // The regular file <root>/<name> of at most maxBytes, never through a link; nullopt otherwise.
  std::optional<std::string> ReadFile(const std::string& name, std::size_t maxBytes) const;

 private:
  void Trim(int folder, std::size_t maxFiles, std::uintmax_t maxBytes) const noexcept;
  bool StoredByThisRun(const std::string& name) const;
  void OpenSubfolders();
  void RemoveStaleTemporaries() const noexcept;

  std::filesystem::path root_;
  unique_fd rootFd_;
  unique_fd pending_;
  unique_fd aside_;
  DatabaseLimits limits_;
  mutable std::mutex storedMutex_;
  mutable std::set<std::string, std::less<>> stored_;  // pending names this object stored
};

}  // namespace corvantis::sentry
