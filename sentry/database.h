#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace corvantis::sentry {

// The folder the client keeps its envelopes in unless told otherwise, relative to the current
// directory (sentry-native's default).
inline constexpr std::string_view kDefaultDatabasePath = ".sentry-native";

struct DatabaseLimits {
  // Beyond either bound the oldest pending envelopes are deleted, so a crash loop cannot fill
  // the disk.
  std::uintmax_t maxPendingBytes = 32u << 20;
  std::size_t maxPendingFiles = 64;
  std::size_t maxAsideFiles = 16;
};

// One pending envelope file, locked (flock) by this process for as long as the object lives, so
// that no other process sends it meanwhile.
class ClaimedEnvelope {
 public:
  ClaimedEnvelope(std::filesystem::path path, unique_fd fd)
      : path_(std::move(path)), fd_(std::move(fd)) {}
  const std::filesystem::path& path() const { return path_; }
  // The whole file; nullopt when it cannot be read.
  std::optional<std::string> Read() const;
  // Deletes the file (after the service accepted it).
  void Remove();

 private:
  std::filesystem::path path_;
  unique_fd fd_;
};

// Envelopes waiting to be sent: one file each in <root>/pending, named so that names sort oldest
// first; files that are unreadable, corrupt or refused are moved to <root>/aside.
class Database {
 public:
  // Creates the folders when missing; throws std::filesystem::filesystem_error when it cannot.
  explicit Database(std::filesystem::path root, DatabaseLimits limits = {});

  const std::filesystem::path& root() const { return root_; }
  // Writes under a temporary name and renames into pending, so a half-written file is never
  // pending; then trims pending to the limits. The new file comes back claimed; nullopt when it
  // could not be written.
  std::optional<ClaimedEnvelope> Store(std::string_view envelope) const;
  // Pending envelope files, oldest first.
  std::vector<std::filesystem::path> ListPending() const;
  // nullopt when another process holds the file, it is gone, or it is not a regular file (never
  // followed through a symlink, never waited on).
  std::optional<ClaimedEnvelope> Claim(const std::filesystem::path& path) const;
  // Moves the file aside (keeping the newest few there); never throws.
  void MoveAside(ClaimedEnvelope& envelope) const;

 private:
  void Trim(const std::filesystem::path& folder, std::size_t maxFiles,
            std::uintmax_t maxBytes) const noexcept;

  std::filesystem::path root_;
  std::filesystem::path pending_;
  std::filesystem::path aside_;
  DatabaseLimits limits_;
};

}  // namespace corvantis::sentry
