#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/hresult_error.h"
#include "platform/throw_records.h"
#include "tests/debug_events/throw_reader.h"

namespace corvantis {

namespace outer::inner {
struct Thing {
  int Value;
};
}  // namespace outer::inner

namespace {

template <typename T>
struct Box {
  T Value;
};

// Static, as the program's records are: inside this executable's image.
ThrowRecords g_records;

std::uintptr_t ExecutableBase() {
  Dl_info info{};
  EXPECT_NE(dladdr(&g_records, &info), 0);
  return reinterpret_cast<std::uintptr_t>(info.dli_fbase);
}

// Reads of this process's memory, limited to the records and the thrown object as a debugger's
// reads are limited to what is mapped.
ReadMemory LocalReader(const void* object, std::size_t objectSize) {
  return [=](std::uint64_t address, void* out, std::size_t size) {
    const auto inside = [&](const void* start, std::size_t length) {
      const auto begin = reinterpret_cast<std::uintptr_t>(start);
      return address >= begin && size <= length && address - begin <= length - size;
    };
    if (!inside(&g_records, sizeof g_records) && !inside(object, objectSize)) return false;
    if (size != 0) std::memcpy(out, reinterpret_cast<const void*>(address), size);
    return true;
  };
}

// Describes `object` and reads the description back through the records alone.
template <typename T>
ThrowReading DescribeAndRead(const T& object) {
  const ThrowDescription described = DescribeThrow(typeid(T), &object, ExecutableBase(), g_records);
  EXCEPTION_RECORD64 record{};
  record.NumberParameters = 4;
  record.ExceptionInformation[1] = described.ObjectAddress;
  record.ExceptionInformation[2] = described.ThrowInfoAddress;
  record.ExceptionInformation[3] = described.ImageBase;
  return ReadThrow(record, LocalReader(&object, sizeof object));
}

using Bytes = std::vector<unsigned char>;

TEST(ThrowRecords, HresultsReadAsTheWindowsLayoutsWithTheirCodes) {
  const ThrowReading error = DescribeAndRead(hresult_error(MakeHResult(0x80070050), L"exists"));
  ASSERT_TRUE(error.Complete);
  EXPECT_EQ(error.DecoratedName, ".?AUhresult_error@winrt@@");
  ASSERT_EQ(error.ObjectSize, 24u);
  EXPECT_EQ(Bytes(error.Object.begin() + 12, error.Object.begin() + 16),
            (Bytes{0x50, 0x00, 0x07, 0x80}));

  const ThrowReading asInt = DescribeAndRead(E_FAIL);
  ASSERT_TRUE(asInt.Complete);
  EXPECT_EQ(asInt.DecoratedName, ".J");
  EXPECT_EQ(asInt.Object, (Bytes{0x05, 0x40, 0x00, 0x80}));

  const ThrowReading asLong = DescribeAndRead(static_cast<long>(0x887A0005));
  ASSERT_TRUE(asLong.Complete);
  EXPECT_EQ(asLong.DecoratedName, ".J");
  EXPECT_EQ(asLong.Object, (Bytes{0x05, 0x00, 0x7A, 0x88}));
}

TEST(ThrowRecords, OtherTypesByNameWithTheirOwnBytesWhereTheSizeIsKnown) {
  const std::runtime_error failure("x");
  const ThrowReading standard = DescribeAndRead(failure);
  EXPECT_EQ(standard.DecoratedName, ".?AVruntime_error@std@@");
  ASSERT_EQ(standard.ObjectSize, sizeof failure);
  EXPECT_EQ(std::memcmp(standard.Object.data(), static_cast<const void*>(&failure), sizeof failure),
            0);

  const ThrowReading number = DescribeAndRead(2.5);
  EXPECT_EQ(number.DecoratedName, ".N");
  EXPECT_EQ(number.ObjectSize, 8u);

  const char* text = "text";
  const ThrowReading pointer = DescribeAndRead(text);
  EXPECT_EQ(pointer.DecoratedName, "PKc");
  EXPECT_EQ(pointer.ObjectSize, 8u);

  // Types the program does not know: the name only, as for a Windows type of size 0.
  const ThrowReading nested = DescribeAndRead(outer::inner::Thing{1});
  EXPECT_EQ(nested.DecoratedName, ".?AVThing@inner@outer@corvantis@@");
  EXPECT_EQ(nested.ObjectSize, 0u);
  EXPECT_TRUE(nested.Complete);
  EXPECT_EQ(DescribeAndRead(Box<int>{1}).DecoratedName, typeid(Box<int>).name());
}

// A type_info with any mangled name, as a hostile or unusual type would have.
struct NamedTypeInfo : std::type_info {
  explicit NamedTypeInfo(const char* name) : std::type_info(name) {}
};

std::string Decorated(const char* mangled, std::size_t size = kMaxDecoratedName) {
  std::vector<char> out(size + 1, '#');
  DecoratedTypeName(NamedTypeInfo(mangled), out.data(), size);
  EXPECT_EQ(out[size], '#') << "wrote past the buffer for " << mangled;
  return out.data();
}

TEST(ThrowRecords, DecoratedNamesOfPlainClassesAndEverythingElseUnchanged) {
  EXPECT_EQ(Decorated("3foo"), ".?AVfoo@@");
  EXPECT_EQ(Decorated("N1a2bcE"), ".?AVbc@a@@");
  EXPECT_EQ(Decorated("NSt6chrono5clockE"), ".?AVclock@chrono@std@@");
  for (const char* unchanged : {"", "St", "N3fooE", "3fo", "03foo", "N3foo", "3foo3bar", "N1aIiEE",
                                "99999999999999999999999x", "Z4mainE5Local"})
    EXPECT_EQ(Decorated(unchanged), unchanged);
  EXPECT_EQ(Decorated("3foo", 6), ".?AVf");
  EXPECT_EQ(Decorated("3foo", 1), "");
  const std::string longName = "N" + std::string("300") + std::string(300, 'x') + "3fooE";
  EXPECT_EQ(Decorated(longName.c_str()).size(), kMaxDecoratedName - 1);
}

}  // namespace

}  // namespace corvantis
