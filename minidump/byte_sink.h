#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace corvantis::minidump {

// Where a dump's bytes go. Writes may come in any order; a gap reads back as zeros.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `bytes` at `offset` from the start; raises hresult_error on failure.
  virtual void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) = 0;
  // Cuts the sink back to nothing, for writing a dump again from the start.
  virtual void Truncate() = 0;
};

// A file opened for writing, which its owner keeps open while the sink is used.
class FileSink final : public ByteSink {
 public:
  explicit FileSink(int file) : file_(file) {}
  void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override;
  void Truncate() override;

 private:
  int file_;
};

// Collects the bytes in memory.
class StringSink final : public ByteSink {
 public:
  void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override;
  void Truncate() override { bytes_.clear(); }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace corvantis::minidump
