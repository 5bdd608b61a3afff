#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "platform/ptrace_connection.h"

namespace corvantis {

namespace fakes {

// Another process's memory as byte runs put at chosen addresses; a read goes on across runs that
// touch and stops at the first byte outside them. Every read is logged with the size asked for.
class FakeMemory final : public TargetMemory {
 public:
  struct ReadCall {
    std::uint64_t Address;
    std::size_t Size;
  };

  void Put(std::uint64_t address, std::string_view bytes) {
    runs_[address].assign(bytes.begin(), bytes.end());
  }
  template <typename T>
  void PutValue(std::uint64_t address, const T& value) {
    Put(address, std::string_view(reinterpret_cast<const char*>(&value), sizeof value));
  }

  std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) override {
    Reads.push_back({address, buffer.size()});
    std::size_t done = 0;
    while (done < buffer.size()) {
      auto run = runs_.upper_bound(address + done);
      if (run == runs_.begin()) break;
      --run;
      const std::uint64_t offset = address + done - run->first;
      if (offset >= run->second.size()) break;
      const std::size_t n =
          std::min<std::size_t>(buffer.size() - done, run->second.size() - offset);
      std::memcpy(buffer.data() + done, run->second.data() + offset, n);
      done += n;
    }
    return done;
  }

  std::vector<ReadCall> Reads;

 private:
  std::map<std::uint64_t, std::vector<char>> runs_;
};

}  // namespace fakes

}  // namespace corvantis
