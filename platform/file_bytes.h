#pragma once
#include <sys/stat.h>

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace corvantis {

// Whole files read into memory: /proc files, dumps, queued envelopes, the crash event.

inline constexpr std::size_t kAnyFileSize = std::numeric_limits<std::size_t>::max();

// Every byte of the open file `fd`, from its start to its end; its offset is left alone. Nothing
// when a read fails or the file holds more than `maxBytes`.
std::optional<std::string> ReadFileBytes(int fd, std::size_t maxBytes = kAnyFileSize);

// The bytes of the file at `path`; nothing when it cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);

// The bytes of the regular file at `path` of at most `maxBytes`; nothing when the name is a
// symbolic link or anything but a regular file (opening it never waits, as on a FIFO), is larger,
// or cannot be read.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes);
// The same for `name` in the open folder `folder`.
std::optional<std::string> ReadRegularFile(int folder, const std::string& name,
                                           std::size_t maxBytes);

// `name` in `folder` (AT_FDCWD: the current directory) opened for reading, as ReadRegularFile
// opens it, with its fstat in `status`; invalid unless it is a regular file.
unique_fd OpenRegularFile(int folder, const std::string& name, struct stat& status);

}  // namespace corvantis
