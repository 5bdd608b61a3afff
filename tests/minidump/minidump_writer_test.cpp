#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "minidump/dump_file_name.h"
#include "minidump/exception_stream.h"
#include "minidump/minidump_file_writer.h"
#include "minidump/minidump_writer.h"
#include "platform/fault_debug_event.h"
#include "tests/fakes/fake_memory.h"
#include "tests/fakes/raised_code.h"
#include "tests/minidump/minidump_reader.h"

namespace corvantis::minidump {
namespace {

using fakes::FakeMemory;
using testing::MinidumpReader;

// A recognisable byte pattern of `size` bytes.
std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
  return bytes;
}

constexpr std::uint32_t kAccessViolation = 0xC0000005;

CONTEXT ContextAt(std::uint64_t rip, std::uint64_t rsp) {
  CONTEXT context{};
  context.ContextFlags = CONTEXT_ALL;
  context.Rip = rip;
  context.Rsp = rsp;
  context.Rcx = 0xCC;
  return context;
}

MemoryMapping Mapping(std::uint64_t start, std::uint64_t end, const char* perms, std::string path) {
  MemoryMapping mapping;
  mapping.Start = start;
  mapping.End = end;
  mapping.Readable = perms[0] == 'r';
  mapping.Writable = perms[1] == 'w';
  mapping.Executable = perms[2] == 'x';
  mapping.Shared = perms[3] == 's';
  mapping.Path = std::move(path);
  return mapping;
}

// Three threads (a full stack, one that reads short, one unreadable), two modules, a fault.
struct Fixture {
  ProcessSnapshot Snapshot;
  FakeMemory Memory;

  Fixture() {
    Snapshot.ProcessId = 4242;
    Snapshot.TimeDateStamp = 1'700'000'000;
    Snapshot.System.NumberOfProcessors = 2;
    Snapshot.System.CpuVendor[0] = 0x756E6547;  // "GenuineIntel"
    Snapshot.System.CpuVendor[1] = 0x49656E69;
    Snapshot.System.CpuVendor[2] = 0x6C65746E;
    Snapshot.System.MajorVersion = 6;
    Snapshot.System.OsVersion = "6.1.0-9-amd64 #1 SMP x86_64";

    Snapshot.Threads.push_back({101, ContextAt(0x401234, 0x7000), 0x7000, 0x100, 0, 0, 0});
    Snapshot.Threads.push_back({102, ContextAt(0x402000, 0x9000), 0x9000, 0x200, 0, 0, 0});
    Snapshot.Threads.push_back({103, ContextAt(0x403000, 0xB000), 0xB000, 0x100, 0, 0, 0});
    Memory.Put(0x7000, Pattern(0x100, 1));
    Memory.Put(0x9000, Pattern(0x80, 2));  // the rest of this stack cannot be read

    Snapshot.Modules.push_back({"/usr/bin/prog", 0x400000, 0x5000, {0xDE, 0xAD, 0xBE, 0xEF, 0x01}});
    Snapshot.Modules.push_back({"/lib/libé.so", 0x600000, 0x2000, {}});

    Snapshot.Mappings.push_back(Mapping(0x400000, 0x401000, "r--p", "/usr/bin/prog"));
    Snapshot.Mappings.push_back(Mapping(0x401000, 0x405000, "r-xp", "/usr/bin/prog"));
    Snapshot.Mappings.push_back(Mapping(0x7000, 0x8000, "rw-p", "[stack]"));
    Snapshot.Mappings.push_back(Mapping(0x20000, 0x21000, "r--p", "[vvar]"));
    Snapshot.Mappings.push_back(Mapping(0x30000, 0x31000, "rw-s", "/dev/dri/renderD128"));
    Snapshot.Mappings.push_back(Mapping(0x50000, 0x52000, "rw-p", ""));
    Snapshot.Mappings.push_back(Mapping(0x60000, 0x61000, "---p", ""));
    Memory.Put(0x400000, Pattern(0x5000, 3));
    Memory.Put(0x20000, Pattern(0x1000, 4));
    Memory.Put(0x30000, Pattern(0x1000, 5));
    Memory.Put(0x50000, Pattern(0x1800, 6));  // reads short: the last 0x800 bytes are gone
    Memory.Put(0x60000, Pattern(0x1000, 7));

    ExceptionSnapshot exception;
    exception.ThreadId = 101;
    exception.Record.ExceptionCode = kAccessViolation;
    exception.Record.ExceptionAddress = 0x401234;
    exception.Record.NumberParameters = 2;
    exception.Record.ExceptionInformation[1] = 0xDEAD;
    exception.Context = ContextAt(0x401234, 0x7010);
    Snapshot.Exception = exception;

    Snapshot.RawStreams.push_back(
        {LinuxMapsStream, "400000-401000 r--p 00000000 08:01 1 /usr/bin/prog\n"});
    Snapshot.RawStreams.push_back({LinuxProcStatusStream, "Name:\tprog\nPid:\t4242\n"});
    Snapshot.RawStreams.push_back(
        {LinuxAuxvStream, std::string("\x06\0\0\0\0\0\0\0\0\x10\0\0\0\0\0\0", 16)});

    Snapshot.Threads[0].CreateTime = 133'000'000'000'000'000;
    Snapshot.Threads[0].UserTime = 5'000'000;
    Snapshot.Handles.push_back({0, "/dev/pts/0"});
    Snapshot.Handles.push_back({3, "socket:[1234]"});
  }

  MinidumpReader Write(std::uint32_t dumpType) {
    StringSink sink;
    WriteSnapshotAsMinidump(Snapshot, Memory, dumpType, sink);
    return MinidumpReader(sink.Bytes());
  }
};

std::set<std::uint32_t> StreamTypes(const MinidumpReader& dump) {
  std::set<std::uint32_t> types;
  for (const MINIDUMP_DIRECTORY& entry : dump.Directory()) types.insert(entry.StreamType);
  return types;
}

TEST(MinidumpFileWriter, HeaderAndSignatureComeOnlyWithFinish) {
  StringSink sink;
  MinidumpFileWriter writer(sink, 2);
  writer.AddStream(LinuxCmdLineStream, writer.WriteBlock(std::as_bytes(std::span("prog", 4))));
  ASSERT_GE(sink.Bytes().size(), sizeof(MINIDUMP_HEADER));
  EXPECT_EQ(sink.Bytes().substr(0, 4), std::string(4, '\0'))
      << "a cut-short dump must not look valid";

  writer.Finish(77, 0x2);
  const MinidumpReader dump(sink.Bytes());
  const MINIDUMP_HEADER header = dump.Header();
  EXPECT_EQ(sink.Bytes().substr(0, 4), "MDMP");
  EXPECT_EQ(header.Version & 0xFFFF, MINIDUMP_VERSION);
  EXPECT_EQ(header.NumberOfStreams, 1u);
  EXPECT_EQ(header.TimeDateStamp, 77u);
  EXPECT_EQ(header.Flags, 0x2u);
  EXPECT_EQ(dump.Bytes(*dump.Stream(LinuxCmdLineStream)), "prog");
}

TEST(MinidumpFileWriter, RefusesAStreamTypeTwiceMoreStreamsThanReservedAndSmallDataPast4GiB) {
  StringSink sink;
  MinidumpFileWriter writer(sink, 2);
  writer.AddStream(LinuxMapsStream, {0, 0});
  EXPECT_EQ(RaisedCode([&] {
              writer.AddStream(LinuxMapsStream, {0, 0});
            }),
            static_cast<std::uint32_t>(E_INVALIDARG));
  writer.AddStream(LinuxAuxvStream, {0, 0});
  EXPECT_EQ(RaisedCode([&] {
              writer.AddStream(LinuxEnvironStream, {0, 0});
            }),
            static_cast<std::uint32_t>(E_INVALIDARG));

  // 32-bit offsets cannot reach data written after 4 GiB of it.
  writer.Allocate64(0x1'0000'0000ull);
  EXPECT_NE(RaisedCode([&] { writer.Allocate(16); }), 0u);
}

TEST(MinidumpFileWriter, StringsAreCountedUtf16WithATerminator) {
  StringSink sink;
  MinidumpFileWriter writer(sink, 1);
  const RVA plain = writer.WriteString("/lib/libé.so");
  const RVA astral = writer.WriteString("\xF0\x9F\x98\x80");  // U+1F600
  const MinidumpReader dump(sink.Bytes());
  EXPECT_EQ(dump.String(plain), "/lib/libé.so");
  EXPECT_EQ(plain % 4, 0u);
  EXPECT_EQ(dump.Read<std::uint32_t>(astral), 4u) << "one surrogate pair";
  EXPECT_EQ(dump.Read<std::uint16_t>(astral + 4), 0xD83D);
  EXPECT_EQ(dump.Read<std::uint16_t>(astral + 6), 0xDE00);
}

TEST(DumpFileName, TheCrashHandlerFindsExactlyTheNamesTheDebuggerChildWrites) {
  const auto parts = DebugExceptionDumpParts(L"bench.exe", 4242, 0, L"0xC0000005");
  const std::wstring name = DumpFileName(parts);
  EXPECT_EQ(name, L"bench.exe-4242-DebugException-0-0xC0000005.dmp");
  EXPECT_TRUE(IsDebugExceptionDumpOf(name, L"bench.exe", 4242));
  EXPECT_EQ(DebugExceptionDumpParts(L"a", 1, 0x80000000u, L"c")[3], L"-2147483648")
      << "as %d prints it";
  // Another process, another program, or not a dump.
  EXPECT_FALSE(IsDebugExceptionDumpOf(name, L"bench.exe", 424));
  EXPECT_FALSE(IsDebugExceptionDumpOf(name, L"bench", 4242));
  EXPECT_FALSE(IsDebugExceptionDumpOf(name + L".tmp-0123456789abcdef", L"bench.exe", 4242));
}

TEST(MinidumpWriter, NormalDumpReadsBackStreamByStream) {
  Fixture fixture;
  const MinidumpReader dump = fixture.Write(MiniDumpNormal);
  EXPECT_EQ(dump.Header().Signature, MINIDUMP_SIGNATURE);
  EXPECT_EQ(dump.Header().TimeDateStamp, 1'700'000'000u);
  EXPECT_EQ(StreamTypes(dump),
            (std::set<std::uint32_t>{SystemInfoStream, ThreadListStream, ExceptionStream,
                                     ModuleListStream, MemoryListStream, LinuxMapsStream,
                                     LinuxProcStatusStream, LinuxAuxvStream}));

  const auto system = dump.Read<MINIDUMP_SYSTEM_INFO>(dump.Stream(SystemInfoStream)->Rva);
  EXPECT_EQ(system.ProcessorArchitecture, PROCESSOR_ARCHITECTURE_AMD64);
  EXPECT_EQ(system.PlatformId, PLATFORM_ID_LINUX);
  EXPECT_EQ(system.NumberOfProcessors, 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(system.Cpu.VendorId), 12), "GenuineIntel");
  EXPECT_EQ(dump.String(system.CSDVersionRva), "6.1.0-9-amd64 #1 SMP x86_64");

  const auto threads = dump.List<MINIDUMP_THREAD>(*dump.Stream(ThreadListStream));
  ASSERT_EQ(threads.size(), 3u);
  EXPECT_EQ(threads[0].ThreadId, 101u);
  const auto context = dump.Read<CONTEXT>(threads[1].ThreadContext.Rva);
  EXPECT_EQ(threads[1].ThreadContext.DataSize, sizeof(CONTEXT));
  EXPECT_EQ(threads[1].ThreadContext.Rva % 16, 0u);
  EXPECT_EQ(context.ContextFlags, CONTEXT_ALL);
  EXPECT_EQ(context.Rip, 0x402000u);
  EXPECT_EQ(context.Rcx, 0xCCu);
  EXPECT_EQ(threads[0].Stack.StartOfMemoryRange, 0x7000u);
  EXPECT_EQ(dump.Bytes(threads[0].Stack.Memory), Pattern(0x100, 1));
  EXPECT_EQ(dump.Bytes(threads[1].Stack.Memory), Pattern(0x80, 2)) << "short read keeps its bytes";
  EXPECT_EQ(threads[2].Stack.Memory.DataSize, 0u);

  // The memory list names the stacks that hold bytes, at the same place in the file.
  const auto ranges = dump.List<MINIDUMP_MEMORY_DESCRIPTOR>(*dump.Stream(MemoryListStream));
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].StartOfMemoryRange, 0x7000u);
  EXPECT_EQ(ranges[0].Memory.Rva, threads[0].Stack.Memory.Rva);
  EXPECT_EQ(ranges[1].Memory.DataSize, 0x80u);

  const auto exception = dump.Read<MINIDUMP_EXCEPTION_STREAM>(dump.Stream(ExceptionStream)->Rva);
  EXPECT_EQ(exception.ThreadId, 101u);
  EXPECT_EQ(exception.ExceptionRecord.ExceptionCode, 11u) << "SIGSEGV, as Linux readers expect";
  EXPECT_EQ(exception.ExceptionRecord.ExceptionFlags, kAccessViolation);
  EXPECT_EQ(exception.ExceptionRecord.ExceptionAddress, 0x401234u);
  EXPECT_EQ(exception.ExceptionRecord.NumberParameters, 2u);
  EXPECT_EQ(exception.ExceptionRecord.ExceptionInformation[1], 0xDEADu);
  EXPECT_EQ(dump.Read<CONTEXT>(exception.ThreadContext.Rva).Rsp, 0x7010u)
      << "the exception carries its own context, not the thread list's";

  const auto modules = dump.List<MINIDUMP_MODULE>(*dump.Stream(ModuleListStream));
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].BaseOfImage, 0x400000u);
  EXPECT_EQ(modules[0].SizeOfImage, 0x5000u);
  EXPECT_EQ(dump.String(modules[0].ModuleNameRva), "/usr/bin/prog");
  EXPECT_EQ(dump.Bytes(modules[0].CvRecord), std::string("LEpB\xDE\xAD\xBE\xEF\x01", 9));
  EXPECT_EQ(dump.String(modules[1].ModuleNameRva), "/lib/libé.so");
  EXPECT_EQ(modules[1].CvRecord.DataSize, 0u) << "no build id, no CodeView record";

  EXPECT_EQ(dump.Bytes(*dump.Stream(LinuxProcStatusStream)), "Name:\tprog\nPid:\t4242\n");
  EXPECT_EQ(dump.Bytes(*dump.Stream(LinuxAuxvStream)), fixture.Snapshot.RawStreams[2].Bytes);

  fixture.Snapshot.Exception.reset();
  EXPECT_FALSE(fixture.Write(MiniDumpNormal).Stream(ExceptionStream)) << "without an exception";
}

// Every row of the parent's fault table goes through the parent's own mapping and the stream: the
// code is the signal it came as, the flags the Windows code; without the signal the code still
// follows from the Windows code (SIGBUS reads back as SIGSEGV), and a code no signal raises is
// Breakpad's "no signal" marker.
TEST(MinidumpWriter, TheExceptionCodeIsTheFaultsSignalAndTheWindowsCodeStaysInTheFlags) {
  struct Row {
    int Signal;
    int Cause;
    std::uint32_t WindowsCode;
  };
  const Row rows[] = {
      {SIGSEGV, SEGV_MAPERR, 0xC0000005}, {SIGSEGV, SI_KERNEL, 0xC0000005},
      {SIGSEGV, SI_USER, 0xC0000005},     {SIGBUS, BUS_ADRERR, 0xC0000005},
      {SIGBUS, SI_USER, 0xC0000005},      {SIGFPE, FPE_INTDIV, 0xC0000094},
      {SIGFPE, FPE_INTOVF, 0xC0000095},   {SIGFPE, FPE_FLTDIV, 0xC000008E},
      {SIGFPE, FPE_FLTOVF, 0xC0000091},   {SIGFPE, FPE_FLTUND, 0xC0000093},
      {SIGFPE, FPE_FLTRES, 0xC000008F},   {SIGFPE, FPE_FLTINV, 0xC0000090},
      {SIGFPE, FPE_FLTSUB, 0xC000008C},   {SIGFPE, SI_USER, 0xC0000094},
      {SIGILL, ILL_PRVOPC, 0xC0000096},   {SIGILL, ILL_PRVREG, 0xC0000096},
      {SIGILL, ILL_ILLOPC, 0xC000001D},   {SIGTRAP, TRAP_TRACE, 0x80000004},
      {SIGTRAP, SI_KERNEL, 0x80000003},   {SIGTRAP, TRAP_BRKPT, 0x80000003},
      {SIGABRT, SI_TKILL, 0xC0000409},
  };
  const auto streamOf = [](const MinidumpReader& dump) {
    return dump.Read<MINIDUMP_EXCEPTION_STREAM>(dump.Stream(ExceptionStream)->Rva).ExceptionRecord;
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "signal " << row.Signal << " cause " << row.Cause);
    siginfo_t info{};
    info.si_signo = row.Signal;
    info.si_code = row.Cause;
    ucontext_t context{};
    context.uc_mcontext.gregs[REG_RIP] = 0x401234;
    Fixture fixture;
    fixture.Snapshot.Exception->Record = FaultExceptionRecord(row.Signal, info, context);
    ASSERT_EQ(fixture.Snapshot.Exception->Record.ExceptionCode, row.WindowsCode);
    fixture.Snapshot.Exception->Signal = row.Signal;
    const MINIDUMP_EXCEPTION withSignal = streamOf(fixture.Write(MiniDumpNormal));
    EXPECT_EQ(withSignal.ExceptionCode, static_cast<std::uint32_t>(row.Signal));
    EXPECT_EQ(withSignal.ExceptionFlags, row.WindowsCode);
    EXPECT_EQ(withSignal.ExceptionAddress, fixture.Snapshot.Exception->Record.ExceptionAddress);

    fixture.Snapshot.Exception->Signal = 0;
    const MINIDUMP_EXCEPTION fromCode = streamOf(fixture.Write(MiniDumpNormal));
    EXPECT_EQ(fromCode.ExceptionCode,
              static_cast<std::uint32_t>(row.Signal == SIGBUS ? SIGSEGV : row.Signal));
    EXPECT_EQ(fromCode.ExceptionFlags, row.WindowsCode);
  }

  Fixture fixture;
  fixture.Snapshot.Exception->Record.ExceptionCode = 0xE06D7363;  // a C++ throw is no signal
  const MINIDUMP_EXCEPTION thrown = streamOf(fixture.Write(MiniDumpNormal));
  EXPECT_EQ(thrown.ExceptionCode, 0xFFFFFFFFu);
  EXPECT_EQ(thrown.ExceptionFlags, 0xE06D7363u);
}

TEST(MinidumpWriter, DumpTypeBitsAddTheirStreams) {
  Fixture fixture;
  const MinidumpReader full = fixture.Write(0x1826);
  const auto types = StreamTypes(full);
  for (const std::uint32_t type :
       {Memory64ListStream, HandleDataStream, MemoryInfoListStream, ThreadInfoListStream})
    EXPECT_TRUE(types.count(type)) << "stream " << type;
  EXPECT_EQ(StreamTypes(fixture.Write(MiniDumpWithFullMemory)).count(HandleDataStream), 0u);

  const auto infoStream = *full.Stream(MemoryInfoListStream);
  const auto infoHeader = full.Read<MINIDUMP_MEMORY_INFO_LIST>(infoStream.Rva);
  ASSERT_EQ(infoHeader.NumberOfEntries, fixture.Snapshot.Mappings.size());
  const auto text = full.Read<MINIDUMP_MEMORY_INFO>(infoStream.Rva + 16 + 48);
  EXPECT_EQ(text.BaseAddress, 0x401000u);
  EXPECT_EQ(text.AllocationBase, 0x400000u) << "a module's mappings share its base";
  EXPECT_EQ(text.Protect, PAGE_EXECUTE_READ);
  EXPECT_EQ(text.Type, MEM_IMAGE);
  const auto anonymous = full.Read<MINIDUMP_MEMORY_INFO>(infoStream.Rva + 16 + 5 * 48);
  EXPECT_EQ(anonymous.Protect, PAGE_READWRITE);
  EXPECT_EQ(anonymous.Type, MEM_PRIVATE);

  const auto handles = full.Stream(HandleDataStream);
  const auto handleHeader = full.Read<MINIDUMP_HANDLE_DATA_STREAM>(handles->Rva);
  ASSERT_EQ(handleHeader.NumberOfDescriptors, 2u);
  const auto socket = full.Read<MINIDUMP_HANDLE_DESCRIPTOR>(handles->Rva + 16 + 32);
  EXPECT_EQ(socket.Handle, 3u);
  EXPECT_EQ(full.String(socket.TypeNameRva), "File");
  EXPECT_EQ(full.String(socket.ObjectNameRva), "socket:[1234]");

  const auto threadInfo = full.Stream(ThreadInfoListStream);
  const auto first = full.Read<MINIDUMP_THREAD_INFO>(threadInfo->Rva + 12);
  EXPECT_EQ(first.ThreadId, 101u);
  EXPECT_EQ(first.CreateTime, 133'000'000'000'000'000u);
  EXPECT_EQ(first.UserTime, 5'000'000u);
}

TEST(MinidumpWriter, FullMemoryHoldsEveryDumpableMappingBackToBack) {
  Fixture fixture;
  const MinidumpReader dump = fixture.Write(MiniDumpWithFullMemory);
  const auto stream = *dump.Stream(Memory64ListStream);
  const auto list = dump.Read<MINIDUMP_MEMORY64_LIST>(stream.Rva);
  ASSERT_EQ(list.NumberOfMemoryRanges, 4u)
      << "the module's two mappings, the stack and the short anonymous mapping; not [vvar], "
         "the device, the inaccessible one";
  EXPECT_EQ(stream.DataSize, 16u + 4 * 16);
  std::uint64_t rva = list.BaseRva;
  const std::pair<std::uint64_t, std::string> expected[] = {
      {0x400000, Pattern(0x5000, 3).substr(0, 0x1000)},
      {0x401000, Pattern(0x5000, 3).substr(0x1000, 0x4000)},
      {0x7000, Pattern(0x100, 1)},
      {0x50000, Pattern(0x1800, 6)}};
  for (std::uint64_t i = 0; i < 4; ++i) {
    const auto range = dump.Read<MINIDUMP_MEMORY_DESCRIPTOR64>(stream.Rva + 16 + i * 16);
    EXPECT_EQ(range.StartOfMemoryRange, expected[i].first);
    EXPECT_EQ(dump.Bytes(rva, range.DataSize), expected[i].second) << "range " << i;
    rva += range.DataSize;
  }
  EXPECT_EQ(rva, dump.Size()) << "the memory is the end of the file";
  EXPECT_TRUE(dump.Stream(MemoryListStream)) << "stacks stay listed for readers of the short list";
}

// Fails every write from the n-th on.
class FailingSink final : public ByteSink {
 public:
  explicit FailingSink(int failFrom) : failFrom_(failFrom) {}
  void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override {
    if (++writes_ >= failFrom_) throw hresult_error(MakeHResult(0x80070070));  // disk full
    Inner.WriteAt(offset, bytes);
  }
  void Truncate() override { Inner.Truncate(); }
  StringSink Inner;

 private:
  int failFrom_;
  int writes_ = 0;
};

TEST(MinidumpWriter, ASinkFailureRaisesAndNeverLeavesAValidHeader) {
  for (const int failFrom : {1, 5, 12, 30}) {
    Fixture fixture;
    FailingSink sink(failFrom);
    EXPECT_EQ(
        RaisedCode([&] { WriteSnapshotAsMinidump(fixture.Snapshot, fixture.Memory, 0x2, sink); }),
        0x80070070u);
    const std::string& bytes = sink.Inner.Bytes();
    EXPECT_TRUE(bytes.size() < 4 || bytes.substr(0, 4) != "MDMP") << "failing at " << failFrom;
  }
}

}  // namespace
}  // namespace corvantis::minidump
