#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace corvantis::minidump {

// The dumped process's memory.
class MemorySource {
 public:
  virtual ~MemorySource() = default;
  // Reads from `address` into `buffer`; returns the number of bytes read, which is short (or 0)
  // where the memory ends or cannot be read. Never raises.
  virtual std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) = 0;
};

}  // namespace corvantis::minidump
