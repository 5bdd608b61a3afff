#include <random>
#include <string>

#include <gtest/gtest.h>

#include "debug_capture/module_map.h"
#include "debug_capture/parent_process_debug.h"
#include "debug_capture/text.h"
#include "exception_images.h"

namespace corvantis {

namespace {

using fakes::FakeMemory;

struct Description {
  int Result = -1;
  std::wstring Line;  // what Output got, "" when nothing
  std::wstring CodeText;
  std::wstring Module;
  std::string Type;
  std::string Data;
  std::uint32_t Value = 0;
};

Description Describe(FakeMemory& memory, const EXCEPTION_RECORD64& record,
                     const std::string& maps = kMaps) {
  Description d;
  ParentProcessDebug debugger;
  debugger.Output = [&d](const wchar_t* text) { d.Line += text; };
  debugger.ExceptionFilter = [&d](const ParentProcessDebug::ExceptionData& data) {
    d.Module = data.ModulePath;
    d.Type = data.TypeName;
    d.Data.assign(reinterpret_cast<const char*>(data.Data), data.DataSize);
    d.Value = data.Value;
    return DefaultExceptionFilter(data);
  };
  d.CodeText = FormatText(L"0x%08X", record.ExceptionCode);
  d.Result = debugger.DescribeException(
      memory, [&maps] { return maps; }, record, d.CodeText);
  return d;
}

TEST(DescribeExceptionTest, RecognisedTypesShowTheirHResultAndNameTheDump) {
  struct Case {
    const char* Name;
    std::string Object;
    const wchar_t* Line;
    std::uint32_t Value;
  };
  const std::string pad(12, '\x11');
  const Case cases[] = {
      {".J", Le32(0x80070005), L"HRESULT, 0x80070005", 0x80070005},
      {".?AV_com_error@@", Le64(0) + Le32(0x887A0005) + Le32(0), L"_com_error, 0x887A0005",
       0x887A0005},
      {".?AVCAtlException@ATL@@", Le32(0x8000FFFF), L"ATL::CAtlException, 0x8000FFFF", 0x8000FFFF},
      {".?AUhresult_error@winrt@@", pad + Le32(0x80070050) + Le64(0) + Le64(0),
       L"winrt::hresult_error, 0x80070050", 0x80070050},
      // Copies too short for the value: the type word alone, the C++ code stays in the name.
      {".?AUhresult_error@winrt@@", pad + Le32(0x80070050) + Le32(0), L"winrt::hresult_error", 0},
      {".J", Le64(0x80070005), L"HRESULT", 0},
      {".?AVComException@@", Le64(0) + Le32(0) + Le32(0), L"ComException", 0},
  };
  for (const Case& c : cases) {
    FakeMemory memory;
    const auto record =
        PutThrow(memory, c.Name, static_cast<std::uint32_t>(c.Object.size()), c.Object);
    const Description d = Describe(memory, record);
    EXPECT_EQ(d.Result, 1) << c.Name;
    EXPECT_EQ(d.Line, std::wstring(L"Exception: Module corvantis, ") + c.Line) << c.Name;
    EXPECT_EQ(d.Value, c.Value) << c.Name;
    EXPECT_EQ(d.CodeText, c.Value != 0 ? FormatText(L"0x%08X", c.Value) : L"0xE06D7363") << c.Name;
    EXPECT_EQ(d.Module, L"/opt/bench app/corvantis");
    EXPECT_EQ(d.Type, c.Name);
    EXPECT_EQ(d.Data, c.Object);
  }

  // The object's memory ends after 16 of its 32 bytes: no value read beyond the copy.
  FakeMemory memory;
  const auto record = PutThrow(memory, ".?AUhresult_error@winrt@@", 32, pad + Le32(0x80070050));
  EXPECT_EQ(Describe(memory, record).Line, L"Exception: Module corvantis, winrt::hresult_error");
}

TEST(DescribeExceptionTest, OtherTypesShowAHexDumpAndTheirDecoratedName) {
  std::wstring twenty = L"AB";
  for (int i = 1; i < 20; ++i) twenty += L" AB";
  const std::pair<std::string, std::wstring> cases[] = {
      {"", L"Type .?AVfoo@@"},
      {std::string("\x01\0\0\0", 4), L"4 bytes: 01 00 00 00, Type .?AVfoo@@"},
      {std::string(20, '\xAB'), L"20 bytes: " + twenty + L", Type .?AVfoo@@"},
      {std::string(21, '\xAB'), L"21 bytes: " + twenty + L"..., Type .?AVfoo@@"},
  };
  for (const auto& [object, details] : cases) {
    FakeMemory memory;
    const auto record =
        PutThrow(memory, ".?AVfoo@@", static_cast<std::uint32_t>(object.size()), object);
    EXPECT_EQ(Describe(memory, record).Line, L"Exception: Module corvantis, " + details)
        << object.size();
  }

  // A huge size copies at most 8192 bytes.
  FakeMemory memory;
  const Description d =
      Describe(memory, PutThrow(memory, ".?AVbig@@", 0xFFFFFFFF, std::string(10000, 'x')));
  EXPECT_EQ(d.Data.size(), 8192u);
  EXPECT_EQ(memory.Reads.back().Size, 8192u);
}

TEST(DescribeExceptionTest, ComExceptionMessagesAreRelayedWithinTheCopy) {
  FakeMemory memory;
  const std::string object = Le64(0) + Le64(kMessage) + Le64(0) + Le32(0x80004005) + Le32(0);
  auto record = PutThrow(memory, ".?AVComException@@", 28, object);
  memory.Put(kMessage, std::string("bad \xE9 thing\0tail", 16));
  EXPECT_EQ(Describe(memory, record).Line,
            L"Exception: Module corvantis, ComException, 0x80004005, bad \uFFFD thing");

  // 20 bytes copied: the pointer is there, the value at 24 is not.
  record = PutThrow(memory, ".?AVComException@@", 20, object);
  EXPECT_EQ(Describe(memory, record).Line,
            L"Exception: Module corvantis, ComException, bad \uFFFD thing");

  // An unterminated message is read once, 8192 bytes, and the line is cut at 4095 characters.
  memory.Put(kMessage, std::string(9000, 'm'));
  const Description d = Describe(memory, PutThrow(memory, ".?AVComException@@", 28, object));
  EXPECT_EQ(d.Line.size(), 4095u);
  EXPECT_EQ(memory.Reads.back().Size, 8192u);
}

TEST(DescribeExceptionTest, MissingRecordsLeaveTheTypeUnknown) {
  FakeMemory memory;
  auto record = PutThrow(memory, ".J", 4, Le32(1));
  record.ExceptionInformation[2] = 0;  // no ThrowInfo
  Description d = Describe(memory, record);
  EXPECT_EQ(d.Line, L"Exception: Module corvantis");
  EXPECT_EQ(d.Type, "");

  // A descriptor whose name is not terminated within the copy is no type.
  memory = FakeMemory();
  record = PutThrow(memory, ".J", 4, Le32(1));
  memory.Put(kDescriptor, std::string(16, '\0') + ".J");
  EXPECT_EQ(Describe(memory, record).Line, L"Exception: Module corvantis");
  // A name that fills all 1008 bytes is taken whole.
  memory.Put(kDescriptor, std::string(16, '\0') + std::string(2000, 'n'));
  EXPECT_EQ(Describe(memory, record).Type, std::string(1008, 'n'));

  // An image base outside every file mapping gives no module.
  EXPECT_EQ(Describe(memory, record, "").Module, L"");
  EXPECT_FALSE(MappedFileAt("00400000-00500000 rw-p 00000000 00:00 0 [heap]\n", 0x400000));
  EXPECT_EQ(MappedFileAt("zz\n00400000-00500000 r-xp 0 08:01 7 /a b\n", 0x4FFFFF), "/a b");
  EXPECT_FALSE(MappedFileAt("00400000-00500000 r-xp 0 08:01 7 /a\n", 0x500000));
}

TEST(DescribeExceptionTest, FilterSilencesThreadNamingAndExpectedGraphicsErrors) {
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = 0xC0000005;
  FakeMemory memory;
  Description d = Describe(memory, record);
  EXPECT_EQ(d.Result, 1);
  EXPECT_EQ(d.Line, L"Exception: ");
  EXPECT_EQ(d.CodeText, L"0xC0000005");
  EXPECT_EQ(d.Value, 0xC0000005u);

  record.ExceptionCode = 0x406D1388;
  d = Describe(memory, record);
  EXPECT_EQ(d.Result, 0);
  EXPECT_EQ(d.Line, L"");

  const std::string comError = Le64(0) + Le32(0x887A0005) + Le32(0);
  record = PutThrow(memory, ".?AV_com_error@@", 16, comError);
  for (const auto& [path, reported] : std::vector<std::pair<std::string, bool>>{
           {"/w/D3D11.dll", false}, {"/w/x.dll", true}, {"/w/D3DSCache.dll", true}}) {
    d = Describe(memory, record, "00400000-00401000 r--p 0 08:01 7 " + path + "\n");
    EXPECT_EQ(d.Result, reported ? 1 : 0) << path;
  }
  memory.Put(kObject, Le64(0) + Le32(0x887A0033) + Le32(0));
  EXPECT_EQ(Describe(memory, record, "00400000-00401000 r--p 0 08:01 7 /w/d3dscache.DLL\n").Result,
            0);
}

TEST(DescribeExceptionTest, OriginateErrorMessagesAreRelayedUnchangedWithoutADump) {
  FakeMemory memory;
  memory.Put(kMessage, std::string(reinterpret_cast<const char*>(u"0123456789 .\n tail"), 36));
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = EXCEPTION_RO_ORIGINATEERROR;
  record.NumberParameters = 3;
  record.ExceptionInformation[2] = kMessage;
  for (const auto& [length, line] :
       std::vector<std::pair<std::uint64_t, std::wstring>>{{10, L"0123456789"},
                                                           {13, L"0123456789 .\n"},
                                                           {0x1'0000'000C, L"0123456789 ."},
                                                           {0xFFFFFFFF, L"0123456789 .\n tail"}}) {
    record.ExceptionInformation[1] = length;
    const Description d = Describe(memory, record);
    EXPECT_EQ(d.Result, 0);
    EXPECT_EQ(d.Line, line) << length;
  }
  EXPECT_EQ(memory.Reads.back().Size, 8192u);

  ParentProcessDebug silent;  // no Output: dropped, no error
  std::wstring code;
  EXPECT_EQ(silent.DescribeException(memory, nullptr, record, code), 0);
}

TEST(DescribeExceptionTest, RandomAndTruncatedImagesNeverReadUnboundedOrCrash) {
  std::mt19937_64 random(7);
  for (int round = 0; round < 300; ++round) {
    FakeMemory memory;
    auto record = PutThrow(memory, ".?AUhresult_error@winrt@@", 24, std::string(24, 'o'));
    // Scribble over the records, or cut one short.
    for (std::uint64_t at :
         {kThrowInfo, kImageBase + 0x200, kImageBase + 0x300, kDescriptor, kObject}) {
      std::string bytes(random() % 40, '\0');
      for (char& b : bytes) b = static_cast<char>(random());
      if (random() % 2) memory.Put(at, bytes);
    }
    record.ExceptionInformation[1 + random() % 3] =
        random() % 2 ? random() : kImageBase + random() % 0x500;
    if (round % 10 == 0) record.ExceptionCode = EXCEPTION_RO_ORIGINATEERROR;
    const Description d = Describe(memory, record);
    EXPECT_LE(d.Line.size(), 4095u);
    for (const auto& read : memory.Reads) EXPECT_LE(read.Size, 8192u);
  }
}

TEST(TextTest, FormatJoinAndTrim) {
  EXPECT_EQ(FormatText(L"%s|%hs|%d", L"w\u00e9", "n\xc3\xa9", -3), L"w\u00e9|n\u00e9|-3");
  EXPECT_EQ(FormatText(L"%ls", std::wstring(5000, L'x').c_str()).size(), 4095u);
  EXPECT_EQ(FormatText(L"%ls", std::wstring(100000, L'y').c_str()), std::wstring(4095, L'y'));
  EXPECT_EQ(JoinText({}, L"-"), L"");
  EXPECT_EQ(JoinText({L"a", L"", L"b"}, L", "), L"a, , b");
  EXPECT_EQ(TrimTrailing(L"a.b. \t\r\n."), L"a.b");
  EXPECT_EQ(TrimTrailing(L" ...\n"), L"");
}

}  // namespace

}  // namespace corvantis
