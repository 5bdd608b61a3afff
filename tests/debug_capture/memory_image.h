#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <string_view>
#include <vector>

#include "platform/ptrace_connection.h"

// Another process's memory as a few byte runs; reading stops at the first byte outside them.
// Every read is logged so that tests can check how much was asked for.
class MemoryImage final : public TargetMemory {
 public:
  struct ReadCall {
    std::uint64_t Address;
    std::size_t Size;
  };

  void Put(std::uint64_t address, std::string_view bytes) {
    auto& run = runs_[address];
    run.assign(bytes.begin(), bytes.end());
  }
  template <typename T>
  void PutValue(std::uint64_t address, const T& value) {
    Put(address, std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
  }

  std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) override {
    Reads.push_back({address, buffer.size()});
    std::size_t done = 0;
    while (done < buffer.size()) {
      const std::uint64_t at = address + done;
      auto run = runs_.upper_bound(at);
      if (run == runs_.begin()) break;
      --run;
      const std::uint64_t offset = at - run->first;
      if (offset >= run->second.size()) break;
      const std::size_t n = std::min<std::size_t>(buffer.size() - done, run->second.size() - offset);
      std::memcpy(buffer.data() + done, run->second.data() + offset, n);
      done += n;
    }
    return done;
  }

  std::vector<ReadCall> Reads;

 private:
  std::map<std::uint64_t, std::vector<char>> runs_;
};
