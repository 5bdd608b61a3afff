#include "platform/throw_records.h"

#include <any>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <ios>
#include <new>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <variant>

#include "platform/hresult_error.h"

namespace corvantis {

namespace {

struct KnownType {
  const std::type_info& Type;
  const char* Name;  // nullptr: the name comes from the mangled name
  std::uint32_t Size;
};

template <typename T>
constexpr KnownType Known(const char* name = nullptr) {
  return {typeid(T), name, static_cast<std::uint32_t>(sizeof(T))};
}

// int and long are absent: a thrown HRESULT has a form of its own.
const KnownType kKnownTypes[] = {
    Known<bool>("._N"),
    Known<char>(".D"),
    Known<signed char>(".C"),
    Known<unsigned char>(".E"),
    Known<wchar_t>("._W"),
    Known<char8_t>("._Q"),
    Known<char16_t>("._S"),
    Known<char32_t>("._U"),
    Known<short>(".F"),
    Known<unsigned short>(".G"),
    Known<unsigned>(".I"),
    Known<unsigned long>(".K"),
    Known<long long>("._J"),
    Known<unsigned long long>("._K"),
    Known<float>(".M"),
    Known<double>(".N"),
    Known<long double>(".O"),
    Known<std::exception>(),
    Known<std::bad_exception>(),
    Known<std::bad_alloc>(),
    Known<std::bad_array_new_length>(),
    Known<std::bad_cast>(),
    Known<std::bad_typeid>(),
    Known<std::bad_function_call>(),
    Known<std::bad_optional_access>(),
    Known<std::bad_variant_access>(),
    Known<std::bad_any_cast>(),
    Known<std::logic_error>(),
    Known<std::domain_error>(),
    Known<std::invalid_argument>(),
    Known<std::length_error>(),
    Known<std::out_of_range>(),
    Known<std::future_error>(),
    Known<std::runtime_error>(),
    Known<std::range_error>(),
    Known<std::overflow_error>(),
    Known<std::underflow_error>(),
    Known<std::system_error>(),
    Known<std::ios_base::failure>(),
    Known<std::filesystem::filesystem_error>(),
    Known<std::regex_error>(),
};

const KnownType* FindKnown(const std::type_info& type) {
  for (const KnownType& known : kKnownTypes)
    if (known.Type == type) return &known;
  return nullptr;
}

// Appends while there is room; the terminator is always kept.
class NameWriter {
 public:
  NameWriter(char* out, std::size_t size) : out_(out), size_(size) {
    if (size_ > 0) out_[0] = '\0';
  }
  void Append(std::string_view text) {
    for (char c : text) {
      if (length_ + 1 >= size_) return;
      out_[length_++] = c;
      out_[length_] = '\0';
    }
  }

 private:
  char* out_;
  std::size_t size_;
  std::size_t length_ = 0;
};

// The components of a plain class name ("3foo", "St13runtime_error", "N1a1bE", "NSt1aE");
// false for anything else (templates, substitutions, ABI tags, local names).
constexpr std::size_t kMaxComponents = 16;
bool SplitClassName(std::string_view mangled, std::string_view (&components)[kMaxComponents],
                    std::size_t& count) {
  count = 0;
  const bool nested = !mangled.empty() && mangled.front() == 'N';
  if (nested) {
    if (mangled.size() < 2 || mangled.back() != 'E') return false;
    mangled = mangled.substr(1, mangled.size() - 2);
  }
  const bool inStd = mangled.substr(0, 2) == "St";
  if (inStd) {
    components[count++] = "std";
    mangled.remove_prefix(2);
  }
  while (!mangled.empty()) {
    std::size_t digits = 0, length = 0;
    while (digits < mangled.size() && mangled[digits] >= '0' && mangled[digits] <= '9') {
      length = length * 10 + static_cast<std::size_t>(mangled[digits] - '0');
      if (length > mangled.size()) return false;
      ++digits;
    }
    if (digits == 0 || mangled[0] == '0' || length == 0 || digits + length > mangled.size() ||
        count == kMaxComponents)
      return false;
    components[count++] = mangled.substr(digits, length);
    mangled.remove_prefix(digits + length);
  }
  // Outside "N...E" exactly one name (after "St"); inside at least two, "N3fooE" is not how a
  // compiler writes a plain name.
  return nested ? count >= 2 : count - (inStd ? 1 : 0) == 1;
}

std::uint32_t Offset(const void* record, std::uintptr_t imageBase) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(record) - imageBase);
}

}  // namespace

void DecoratedTypeName(const std::type_info& type, char* out, std::size_t size) noexcept {
  NameWriter writer(out, size);
  if (const KnownType* known = FindKnown(type); known != nullptr && known->Name != nullptr) {
    writer.Append(known->Name);
    return;
  }
  const std::string_view mangled = type.name();
  std::string_view components[kMaxComponents];
  std::size_t count = 0;
  if (!SplitClassName(mangled, components, count)) {
    writer.Append(mangled);
    return;
  }
  writer.Append(".?AV");
  for (std::size_t i = count; i-- > 0;) {
    writer.Append(components[i]);
    writer.Append("@");
  }
  writer.Append("@");
}

ThrowDescription DescribeThrow(const std::type_info& type, const void* object,
                               std::uintptr_t imageBase, ThrowRecords& records) noexcept {
  std::memset(&records, 0, sizeof records);
  NameWriter name(records.Descriptor.DecoratedName, kMaxDecoratedName);
  const void* described = object;
  std::uint32_t size = 0;
  if (type == typeid(hresult_error)) {
    // The layout of winrt::hresult_error: its HRESULT at 12 of 24 bytes.
    const auto code = static_cast<std::uint32_t>(static_cast<const hresult_error*>(object)->code());
    std::memcpy(records.Surrogate + 12, &code, sizeof code);
    name.Append(".?AUhresult_error@winrt@@");
    described = records.Surrogate;
    size = kSurrogateSize;
  } else if (type == typeid(int) || type == typeid(long)) {
    // An HRESULT, a 32-bit long on Windows.
    const auto value = type == typeid(int)
                           ? static_cast<std::uint32_t>(*static_cast<const int*>(object))
                           : static_cast<std::uint32_t>(*static_cast<const long*>(object));
    std::memcpy(records.Surrogate, &value, sizeof value);
    name.Append(".J");
    described = records.Surrogate;
    size = 4;
  } else {
    DecoratedTypeName(type, records.Descriptor.DecoratedName, kMaxDecoratedName);
    if (const KnownType* known = FindKnown(type))
      size = known->Size;
    else if (type.name()[0] == 'P')
      size = sizeof(void*);
  }
  records.Descriptor.TypeInfoAddress = reinterpret_cast<std::uintptr_t>(&type);
  records.Type.TypeDescriptorOffset = Offset(&records.Descriptor, imageBase);
  records.Type.ThisDisplacement[1] = -1;  // no virtual base, as the compiler writes it
  records.Type.ObjectSize = size;
  records.Array.Count = 1;
  records.Array.CatchableTypeOffsets[0] = Offset(&records.Type, imageBase);
  records.Info.CatchableTypeArrayOffset = Offset(&records.Array, imageBase);
  return {reinterpret_cast<std::uintptr_t>(described),
          reinterpret_cast<std::uintptr_t>(&records.Info), imageBase};
}

}  // namespace corvantis
