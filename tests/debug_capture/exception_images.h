#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/debug_event.h"
#include "tests/fakes/fake_memory.h"

namespace corvantis {

constexpr std::uint64_t kImageBase = 0x400000;
constexpr std::uint64_t kThrowInfo = kImageBase + 0x100;
constexpr std::uint64_t kDescriptor = kImageBase + 0x400;
constexpr std::uint64_t kObject = 0x7f0000001000;
constexpr std::uint64_t kMessage = 0x7f0000009000;
inline const std::string kMaps =
    "00400000-00401000 r--p 00000000 08:01 77 /opt/bench app/corvantis (deleted)\n"
    "7f0000000000-7f0000010000 rw-p 00000000 00:00 0 \n";

inline std::string Le32(std::uint32_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}
inline std::string Le64(std::uint64_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 8);
}

// The records of a thrown object of type `name` and `size` bytes, its bytes at kObject.
inline EXCEPTION_RECORD64 PutThrow(fakes::FakeMemory& memory, std::string_view name,
                                   std::uint32_t size, std::string_view object) {
  memory.Put(kThrowInfo, Le32(0) + Le32(0) + Le32(0) + Le32(0x200));
  memory.Put(kImageBase + 0x200, Le32(1) + Le32(0x300));
  memory.Put(kImageBase + 0x300,
             Le32(0) + Le32(0x400) + std::string(12, '\0') + Le32(size) + Le32(0));
  memory.Put(kDescriptor, std::string(16, '\0') + std::string(name) + '\0');
  memory.Put(kObject, object);
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = EXCEPTION_MSVC_CPP;
  record.NumberParameters = 4;
  record.ExceptionInformation[0] = 0x19930520;
  record.ExceptionInformation[1] = kObject;
  record.ExceptionInformation[2] = kThrowInfo;
  record.ExceptionInformation[3] = kImageBase;
  return record;
}

}  // namespace corvantis
