#pragma once
// Reads a minidump back as a debugger would: every structure through its RVA or location
// descriptor, with bounds checked against the file.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "minidump/minidump_format.h"

namespace corvantis::minidump::testing {

class MinidumpReader {
 public:
  explicit MinidumpReader(std::string bytes) : bytes_(std::move(bytes)) {}

  template <typename T>
  T Read(std::uint64_t offset) const {
    Check(offset, sizeof(T));
    T value;
    std::memcpy(&value, bytes_.data() + offset, sizeof(T));
    return value;
  }

  std::string Bytes(std::uint64_t offset, std::uint64_t size) const {
    Check(offset, size);
    return bytes_.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
  }
  std::string Bytes(MINIDUMP_LOCATION_DESCRIPTOR location) const {
    return Bytes(location.Rva, location.DataSize);
  }

  MINIDUMP_HEADER Header() const { return Read<MINIDUMP_HEADER>(0); }

  std::vector<MINIDUMP_DIRECTORY> Directory() const {
    const MINIDUMP_HEADER header = Header();
    std::vector<MINIDUMP_DIRECTORY> entries;
    for (std::uint32_t i = 0; i < header.NumberOfStreams; ++i)
      entries.push_back(
          Read<MINIDUMP_DIRECTORY>(header.StreamDirectoryRva + i * sizeof(MINIDUMP_DIRECTORY)));
    return entries;
  }

  std::optional<MINIDUMP_LOCATION_DESCRIPTOR> Stream(std::uint32_t type) const {
    for (const MINIDUMP_DIRECTORY& entry : Directory())
      if (entry.StreamType == type) return entry.Location;
    return std::nullopt;
  }

  // A MINIDUMP_STRING as UTF-8 (code points below U+0800 suffice for the tests).
  std::string String(RVA rva) const {
    const auto length = Read<std::uint32_t>(rva);
    const std::string units = Bytes(rva + 4, length + 2);
    if (units[length] != '\0' || units[length + 1] != '\0')
      ADD_FAILURE() << "string at " << rva << " lacks its terminator";
    std::string text;
    for (std::uint32_t i = 0; i + 1 < length; i += 2) {
      const unsigned c = static_cast<unsigned char>(units[i]) |
                         static_cast<unsigned>(static_cast<unsigned char>(units[i + 1])) << 8;
      if (c < 0x80) {
        text.push_back(static_cast<char>(c));
      } else {
        text.push_back(static_cast<char>(0xC0 | (c >> 6)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return text;
  }

  template <typename Entry, typename Count = std::uint32_t>
  std::vector<Entry> List(MINIDUMP_LOCATION_DESCRIPTOR location,
                          std::size_t headerSize = sizeof(Count)) const {
    const auto count = Read<Count>(location.Rva);
    if (headerSize + count * sizeof(Entry) > location.DataSize)
      throw std::out_of_range("list larger than its stream");
    std::vector<Entry> entries;
    for (Count i = 0; i < count; ++i)
      entries.push_back(Read<Entry>(location.Rva + headerSize + i * sizeof(Entry)));
    return entries;
  }

  std::size_t Size() const { return bytes_.size(); }

 private:
  void Check(std::uint64_t offset, std::uint64_t size) const {
    if (offset > bytes_.size() || size > bytes_.size() - offset)
      throw std::out_of_range("minidump read past the end: " + std::to_string(offset) + "+" +
                              std::to_string(size));
  }

  std::string bytes_;
};

}  // namespace corvantis::minidump::testing
