#pragma once
// Header-only: the encoder runtime links none of platform's libraries and writes with it too.
#include <limits.h>
#include <sys/types.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

namespace corvantis {

// Writes every byte of `pieces` to `fd` (at `offset` when given, else at the file offset),
// resuming short and interrupted writes; `pieces` is used up on the way. 0 when all went out,
// else the errno that stopped it (ENOSPC for a write that took nothing).
inline int WriteAll(int fd, std::span<iovec> pieces, std::optional<off_t> offset = std::nullopt) {
  while (!pieces.empty() && pieces.front().iov_len == 0) pieces = pieces.subspan(1);
  while (!pieces.empty()) {
    const int count = static_cast<int>(std::min<std::size_t>(pieces.size(), IOV_MAX));
    const ssize_t written =
        offset ? ::pwritev(fd, pieces.data(), count, *offset) : ::writev(fd, pieces.data(), count);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return ENOSPC;
    if (offset) *offset += written;
    auto left = static_cast<std::size_t>(written);
    while (!pieces.empty() && left >= pieces.front().iov_len) {
      left -= pieces.front().iov_len;
      pieces = pieces.subspan(1);
    }
    if (!pieces.empty()) {
      pieces.front().iov_base = static_cast<std::byte*>(pieces.front().iov_base) + left;
      pieces.front().iov_len -= left;
    }
  }
  return 0;
}

inline int WriteAll(int fd, std::span<const std::byte> bytes,
                    std::optional<off_t> offset = std::nullopt) {
  iovec piece{const_cast<std::byte*>(bytes.data()), bytes.size()};
  return WriteAll(fd, std::span<iovec>(&piece, 1), offset);
}

inline int WriteAll(int fd, std::string_view bytes) {
  return WriteAll(fd, std::as_bytes(std::span(bytes)));
}

}  // namespace corvantis
