#include "minidump/minidump_file_writer.h"

#include <string>

#include "platform/hresult_error.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis::minidump {

namespace {

constexpr std::uint64_t kRva32Limit = 0x1'0000'0000ull;
constexpr std::uint32_t kErrorFileTooLarge = 223;  // ERROR_FILE_TOO_LARGE

std::uint64_t AlignUp(std::uint64_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

}  // namespace

MinidumpFileWriter::MinidumpFileWriter(ByteSink& sink, std::uint32_t maxStreams)
    : sink_(sink), maxStreams_(maxStreams) {
  end_ = sizeof(MINIDUMP_HEADER);
  directoryRva_ = Allocate(sizeof(MINIDUMP_DIRECTORY) * maxStreams, 4);
}

RVA MinidumpFileWriter::Allocate(std::size_t size, std::size_t alignment) {
  const std::uint64_t start = AlignUp(end_, alignment);
  if (past32BitRange_ || start + size > kRva32Limit)
    throw hresult_error(HRESULT_FROM_WIN32(kErrorFileTooLarge), L"minidump beyond 4 GiB");
  end_ = start + size;
  return static_cast<RVA>(start);
}

std::uint64_t MinidumpFileWriter::Allocate64(std::uint64_t size, std::size_t alignment) {
  const std::uint64_t start = AlignUp(end_, alignment);
  end_ = start + size;
  past32BitRange_ = past32BitRange_ || end_ > kRva32Limit;
  return start;
}

void MinidumpFileWriter::WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) {
  if (!bytes.empty()) sink_.WriteAt(offset, bytes);
}

MINIDUMP_LOCATION_DESCRIPTOR MinidumpFileWriter::WriteBlock(std::span<const std::byte> bytes,
                                                            std::size_t alignment) {
  const RVA rva = Allocate(bytes.size(), alignment);
  WriteAt(rva, bytes);
  return {static_cast<std::uint32_t>(bytes.size()), rva};
}

RVA MinidumpFileWriter::WriteString(std::string_view utf8) {
  const std::u16string text = WideToUtf16(Utf8ToWide(utf8));
  const std::uint32_t length = static_cast<std::uint32_t>(text.size() * sizeof(char16_t));
  const RVA rva = Allocate(sizeof(std::uint32_t) + length + sizeof(char16_t), 4);
  WriteObject(rva, length);
  std::u16string terminated = text;
  terminated.push_back(u'\0');
  WriteAt(rva + sizeof(std::uint32_t), std::as_bytes(std::span(terminated)));
  return rva;
}

void MinidumpFileWriter::AddStream(std::uint32_t streamType,
                                   MINIDUMP_LOCATION_DESCRIPTOR location) {
  for (const MINIDUMP_DIRECTORY& entry : directory_) {
    if (entry.StreamType == streamType)
      throw hresult_error(E_INVALIDARG, L"minidump stream written twice");
  }
  if (directory_.size() >= maxStreams_)
    throw hresult_error(E_INVALIDARG, L"minidump directory full");
  directory_.push_back({streamType, location});
}

void MinidumpFileWriter::Finish(std::uint32_t timeDateStamp, std::uint64_t flags) {
  WriteAt(directoryRva_, std::as_bytes(std::span(directory_)));
  MINIDUMP_HEADER header{};
  header.Signature = MINIDUMP_SIGNATURE;
  header.Version = MINIDUMP_VERSION;
  header.NumberOfStreams = static_cast<std::uint32_t>(directory_.size());
  header.StreamDirectoryRva = directoryRva_;
  header.TimeDateStamp = timeDateStamp;
  header.Flags = flags;
  WriteObject(0, header);
}

}  // namespace corvantis::minidump
