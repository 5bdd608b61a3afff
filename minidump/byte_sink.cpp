#include "minidump/byte_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/win32_error.h"
#include "platform/write_all.h"

namespace corvantis::minidump {

void FileSink::WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) {
  if (const int error = WriteAll(file_, bytes, static_cast<off_t>(offset)))
    ThrowErrno(error, "minidump write");
}

void FileSink::Truncate() {
  if (::ftruncate(file_, 0) != 0) ThrowErrno(errno, "minidump truncate");
}

void StringSink::WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) {
  const std::size_t end = static_cast<std::size_t>(offset) + bytes.size();
  if (bytes_.size() < end) bytes_.resize(end, '\0');
  if (!bytes.empty()) std::memcpy(bytes_.data() + offset, bytes.data(), bytes.size());
}

}  // namespace corvantis::minidump
