// DescribeException over a memory image that the input fills: the exception-handling records,
// the thrown object, messages and their lengths, all as hostile as another process's memory can
// be. Every read must stay within 8192 bytes and the line within 4095 characters.
//
// Input: [0] kind (C++ throw, originate error, other), [1..2] object offset, [3..4] ThrowInfo
// offset (0xFFFF: none), [5..8] originate length, [9] whether the image is a mapped file, then
// the image itself, mapped at kBase.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "debug_capture/parent_process_debug.h"
#include "fuzz/fuzz_check.h"
#include "tests/fakes/fake_memory.h"

using namespace corvantis;

namespace {

constexpr std::uint64_t kBase = 0x10000;
constexpr std::size_t kHeader = 10;

std::uint32_t Load(const std::uint8_t* at, std::size_t bytes) {
  std::uint32_t value = 0;
  std::memcpy(&value, at, bytes);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  fakes::FakeMemory memory;
  memory.Put(kBase,
             std::string_view(reinterpret_cast<const char*>(data + kHeader), size - kHeader));
  EXCEPTION_RECORD64 record{};
  const std::uint32_t throwInfo = Load(data + 3, 2);
  switch (data[0] % 3) {
    case 0:
      record.ExceptionCode = EXCEPTION_MSVC_CPP;
      record.ExceptionInformation[1] = kBase + Load(data + 1, 2);
      record.ExceptionInformation[2] = throwInfo == 0xFFFF ? 0 : kBase + throwInfo;
      record.ExceptionInformation[3] = kBase;
      break;
    case 1:
      record.ExceptionCode = EXCEPTION_RO_ORIGINATEERROR;
      record.ExceptionInformation[1] = Load(data + 5, 4);
      record.ExceptionInformation[2] = kBase + Load(data + 1, 2);
      break;
    default: record.ExceptionCode = Load(data + 5, 4); break;
  }
  const std::string maps =
      data[9] % 2 ? "00010000-00030000 r-xp 00000000 08:01 7 /lib/d3d11.dll\n" : "";

  std::wstring line;
  ParentProcessDebug debugger;
  debugger.Output = [&line](const wchar_t* text) { line = text; };
  debugger.ExceptionFilter = [](const ParentProcessDebug::ExceptionData& exception) {
    FUZZ_CHECK(exception.DataSize <= 8192);
    FUZZ_CHECK((exception.Data == nullptr) == (exception.DataSize == 0));
    return DefaultExceptionFilter(exception);
  };
  std::wstring codeText = L"0xE06D7363";
  const int reported = debugger.DescribeException(
      memory, [&maps] { return maps; }, record, codeText);
  FUZZ_CHECK(line.size() <= 4095);
  FUZZ_CHECK(reported == 0 || line.rfind(L"Exception: ", 0) == 0);
  FUZZ_CHECK(codeText.size() == 10);
  for (const auto& read : memory.Reads) FUZZ_CHECK(read.Size <= 8192);
  return 0;
}
