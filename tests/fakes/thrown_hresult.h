#pragma once
#include <cstdint>
#include <cstring>

#include "platform/debug_event.h"

extern "C" const char __ehdr_start[];  // the first byte of the including executable's mapping

namespace corvantis::fakes {

// The exception record of a thrown winrt::hresult_error carrying `hresult`, with the x64 throw
// records of an MSVC program placed in this executable. Stays put: the record points into it.
class ThrownHresult {
 public:
  explicit ThrownHresult(std::uint32_t hresult) {
    std::memcpy(object_ + 12, &hresult, 4);
    catchableType_[1] = Offset(&descriptor_);
    catchableType_[5] = sizeof object_;
    typeArray_[0] = 1;
    typeArray_[1] = Offset(catchableType_);
    throwInfo_[3] = Offset(typeArray_);
    Record.ExceptionCode = EXCEPTION_MSVC_CPP;
    Record.NumberParameters = 4;
    Record.ExceptionInformation[0] = 0x19930520;
    Record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(object_);
    Record.ExceptionInformation[2] = reinterpret_cast<std::uintptr_t>(throwInfo_);
    Record.ExceptionInformation[3] = reinterpret_cast<std::uintptr_t>(__ehdr_start);
  }
  ThrownHresult(const ThrownHresult&) = delete;
  ThrownHresult& operator=(const ThrownHresult&) = delete;

  EXCEPTION_RECORD64 Record{};

 private:
  struct TypeDescriptor {
    std::uint64_t VirtualTable;
    std::uint64_t Spare;
    char Name[32];
  };
  static std::uint32_t Offset(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p) -
                                      reinterpret_cast<std::uintptr_t>(__ehdr_start));
  }

  // The records are addressed by 32-bit offsets from the image's start, so they live in it.
  static inline TypeDescriptor descriptor_{0, 0, ".?AUhresult_error@winrt@@"};
  static inline std::uint32_t catchableType_[7];
  static inline std::uint32_t typeArray_[2];
  static inline std::uint32_t throwInfo_[4];
  unsigned char object_[24] = {};
};

}  // namespace corvantis::fakes
