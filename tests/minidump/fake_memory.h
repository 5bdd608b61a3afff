#pragma once
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "platform/ptrace_connection.h"

namespace corvantis::minidump::testing {

// Memory made of byte blocks at chosen addresses; reads stop where a block ends.
class FakeMemory final : public TargetMemory {
 public:
  void Add(std::uint64_t address, std::string bytes) { blocks_[address] = std::move(bytes); }

  std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) override {
    ++reads;
    auto it = blocks_.upper_bound(address);
    if (it == blocks_.begin()) return 0;
    --it;
    const std::uint64_t offset = address - it->first;
    if (offset >= it->second.size()) return 0;
    const std::size_t n = std::min<std::size_t>(buffer.size(), it->second.size() - offset);
    std::memcpy(buffer.data(), it->second.data() + offset, n);
    return n;
  }

  int reads = 0;

 private:
  std::map<std::uint64_t, std::string> blocks_;
};

// A recognisable byte pattern of `size` bytes.
inline std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

}  // namespace corvantis::minidump::testing
