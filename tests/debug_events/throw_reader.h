#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/debug_event.h"

namespace corvantis {

// Reads a C++ exception event back the way a Windows debugger does, through nothing but a
// memory-reading function: ThrowInfo at parameter 2, then each record at the image base
// (parameter 3) plus the 32-bit offset found in the one before, then the object at parameter 1.
struct ThrowReading {
  bool Complete = false;  // every record could be read
  std::string DecoratedName;
  std::uint32_t ObjectSize = 0;
  std::vector<unsigned char> Object;  // the first min(ObjectSize, 8192) bytes
};

using ReadMemory = std::function<bool(std::uint64_t address, void* out, std::size_t size)>;

inline std::uint32_t LoadU32(const unsigned char* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

inline ThrowReading ReadThrow(const EXCEPTION_RECORD64& record, const ReadMemory& read) {
  ThrowReading reading;
  const std::uint64_t object = record.ExceptionInformation[1];
  const std::uint64_t base = record.ExceptionInformation[3];
  unsigned char info[16], array[8], type[28], descriptor[1024] = {};
  if (!read(record.ExceptionInformation[2], info, sizeof info) ||
      !read(base + LoadU32(info + 12), array, sizeof array) ||
      !read(base + LoadU32(array + 4), type, sizeof type))
    return reading;
  // The descriptor may end near the end of readable memory: read as much of it as there is.
  std::size_t got = 0;
  while (got < sizeof descriptor && read(base + LoadU32(type + 4) + got, descriptor + got, 1))
    ++got;
  if (got <= 16) return reading;
  reading.DecoratedName.assign(reinterpret_cast<const char*>(descriptor + 16),
                               strnlen(reinterpret_cast<const char*>(descriptor + 16), got - 16));
  reading.ObjectSize = LoadU32(type + 20);
  reading.Object.resize(std::min<std::uint32_t>(reading.ObjectSize, 8192));
  reading.Complete = read(object, reading.Object.data(), reading.Object.size());
  return reading;
}

}  // namespace corvantis
