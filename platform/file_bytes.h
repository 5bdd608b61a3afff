#pragma once
#include <cstddef>
#include <limits>
#include <optional>
#include <string>

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

}  // namespace corvantis
