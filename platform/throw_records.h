#pragma once
#include <cstddef>
#include <cstdint>
#include <typeinfo>

namespace corvantis {

// The records by which the Microsoft C++ compiler describes a thrown type on x64, built at run time
// so that a debugger reads a throw of this program as it reads one of a Windows program. Fields
// named ...Offset are 32-bit offsets from an image base; all integers little-endian.
struct MsvcThrowInfo {
  std::uint32_t Attributes;
  std::uint32_t UnwindOffset;
  std::uint32_t ForwardCompatOffset;
  std::uint32_t CatchableTypeArrayOffset;
};
static_assert(sizeof(MsvcThrowInfo) == 16 &&
              offsetof(MsvcThrowInfo, CatchableTypeArrayOffset) == 12);

// One entry: the thrown type itself.
struct MsvcCatchableTypeArray {
  std::uint32_t Count;
  std::uint32_t CatchableTypeOffsets[1];
};
static_assert(sizeof(MsvcCatchableTypeArray) == 8);

struct MsvcCatchableType {
  std::uint32_t Properties;
  std::uint32_t TypeDescriptorOffset;
  std::int32_t ThisDisplacement[3];
  std::uint32_t ObjectSize;
  std::uint32_t CopyFunctionOffset;
};
static_assert(sizeof(MsvcCatchableType) == 28 &&
              offsetof(MsvcCatchableType, TypeDescriptorOffset) == 4 &&
              offsetof(MsvcCatchableType, ObjectSize) == 20);

inline constexpr std::size_t kMaxDecoratedName = 240;  // with its terminator

struct MsvcTypeDescriptor {
  std::uint64_t TypeInfoAddress;  // the virtual-table slot on Windows; here the std::type_info
  std::uint64_t Spare;
  char DecoratedName[kMaxDecoratedName];
};
static_assert(offsetof(MsvcTypeDescriptor, DecoratedName) == 16);

// Stand-in for a thrown object whose bytes are not laid out as the Windows reader expects.
inline constexpr std::size_t kSurrogateSize = 24;

// Everything one thrown object is described with; must lie less than 4 GiB above the image base.
struct ThrowRecords {
  MsvcThrowInfo Info;
  MsvcCatchableTypeArray Array;
  MsvcCatchableType Type;
  MsvcTypeDescriptor Descriptor;
  alignas(8) unsigned char Surrogate[kSurrogateSize];
};

// The C++ exception event's parameters [1] to [3].
struct ThrowDescription {
  std::uint64_t ObjectAddress;
  std::uint64_t ThrowInfoAddress;
  std::uint64_t ImageBase;
};

// Fills `records` for the object of `type` at `object`, with offsets from `imageBase`:
// hresult_error as ".?AUhresult_error@winrt@@" with a 24-byte surrogate holding its HRESULT at 12;
// a thrown int or long (an HRESULT) as ".J" with a 4-byte surrogate; any other type by
// DecoratedTypeName and the object itself, with its size where the type is known, else 0.
// Allocates nothing and never throws.
ThrowDescription DescribeThrow(const std::type_info& type, const void* object,
                               std::uintptr_t imageBase, ThrowRecords& records) noexcept;

// The Microsoft decorated name for a type: ".?AV" and the name's components innermost first,
// joined by '@', then "@@" for a class (".?AVruntime_error@std@@"), the Microsoft code for a
// fundamental type (".N" for double), otherwise the Itanium mangled name unchanged. Cut to fit
// `size` bytes with its terminator.
void DecoratedTypeName(const std::type_info& type, char* out, std::size_t size) noexcept;

}  // namespace corvantis
