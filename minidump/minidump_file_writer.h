#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "minidump/byte_sink.h"
#include "minidump/minidump_format.h"

namespace corvantis::minidump {

// Lays out a minidump in one pass: space is handed out from the front of the file as streams are
// written; the directory sits right after the header, sized for `maxStreams`; the header with its
// signature is written by Finish, last, so a dump cut short never looks valid.
class MinidumpFileWriter {
 public:
  MinidumpFileWriter(ByteSink& sink, std::uint32_t maxStreams);

  // Reserves `size` bytes at the next offset aligned to `alignment`; returns their RVA. Raises
  // hresult_error when they would end beyond the 4 GiB that a 32-bit RVA reaches.
  RVA Allocate(std::size_t size, std::size_t alignment = 8);
  // Same, for data addressed by a 64-bit RVA (full memory); nothing 32-bit may follow it.
  std::uint64_t Allocate64(std::uint64_t size, std::size_t alignment = 16);

  void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes);
  template <typename T>
  void WriteObject(std::uint64_t offset, const T& value) {
    static_assert(std::is_trivially_copyable_v<T>);
    WriteAt(offset, std::as_bytes(std::span(&value, 1)));
  }

  // Allocates and writes in one step.
  MINIDUMP_LOCATION_DESCRIPTOR WriteBlock(std::span<const std::byte> bytes,
                                          std::size_t alignment = 8);
  template <typename T>
  MINIDUMP_LOCATION_DESCRIPTOR WriteBlockObject(const T& value, std::size_t alignment = 8) {
    static_assert(std::is_trivially_copyable_v<T>);
    return WriteBlock(std::as_bytes(std::span(&value, 1)), alignment);
  }
  // Writes a stream of `header` followed by `entries` and enters it in the directory.
  template <typename Header, typename Entry>
  void WriteListStream(std::uint32_t streamType, const Header& header,
                       const std::vector<Entry>& entries) {
    static_assert(std::is_trivially_copyable_v<Header> && std::is_trivially_copyable_v<Entry>);
    const std::size_t size = sizeof(Header) + entries.size() * sizeof(Entry);
    const RVA rva = Allocate(size, 8);
    WriteObject(rva, header);
    WriteAt(rva + sizeof(Header), std::as_bytes(std::span(entries)));
    AddStream(streamType, {static_cast<std::uint32_t>(size), rva});
  }
  // A MINIDUMP_STRING from UTF-8 text (malformed bytes become U+FFFD); returns its RVA.
  RVA WriteString(std::string_view utf8);

  // Enters a stream in the directory. Raises hresult_error (E_INVALIDARG) for a stream type
  // already entered, and when the directory is full.
  void AddStream(std::uint32_t streamType, MINIDUMP_LOCATION_DESCRIPTOR location);

  // Writes the directory, then the header. Nothing may be written afterwards.
  void Finish(std::uint32_t timeDateStamp, std::uint64_t flags);

  std::uint64_t End() const { return end_; }

 private:
  ByteSink& sink_;
  std::uint32_t maxStreams_;
  RVA directoryRva_;
  std::uint64_t end_ = 0;
  bool past32BitRange_ = false;
  std::vector<MINIDUMP_DIRECTORY> directory_;
};

}  // namespace corvantis::minidump
