// Dumps of a real crash: a small program faults under a tracer, the dump is written while it is
// held at the fault, and LLDB reads the dump back.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>

#include "app/command_line.h"
#include "debug_capture/write_minidump.h"
#include "minidump/dump_file_name.h"
#include "platform/ptrace_connection_linux.h"
#include "platform/utf.h"
#include "tests/fakes/files.h"
#include "tests/fakes/raised_code.h"
#include "tests/minidump/minidump_reader.h"

namespace corvantis::minidump {
namespace {

using testing::MinidumpReader;
namespace fs = std::filesystem;

struct Fault {
  PtraceConnection& Target;
  pid_t ProcessId;
  pid_t ThreadId;
  DebugEventData Event;
  std::string HeapMarker;  // address of a text on the crasher's heap
  std::vector<pid_t> Threads;
};

// Attaches to process `pid`, calls `attached`, and calls `atEvent` while every thread of the
// process is held at its first debug event with `code`. The process is killed afterwards.
void HoldAtDebugEvent(pid_t pid, std::uint32_t code, const std::string& heapMarker,
                      const std::function<void()>& attached,
                      const std::function<void(const Fault&)>& atEvent) {
  {
    LinuxPtraceConnection target;
    ASSERT_TRUE(target.Attach(pid));
    target.ResumeAll();
    attached();
    for (;;) {
      const TraceEvent event = target.WaitForEvent();
      ASSERT_EQ(event.Kind, TraceEventKind::Signal) << "the program ended before the event";
      if (event.SignalInfo.si_signo != DebugEventSignal()) {
        target.Continue(event.ThreadId, event.SignalInfo.si_signo);
        continue;
      }
      DebugEventData data{};
      const auto address = reinterpret_cast<std::uint64_t>(event.SignalInfo.si_value.sival_ptr);
      ASSERT_EQ(target.Memory().Read(address, std::as_writable_bytes(std::span(&data, 1))),
                sizeof(data));
      if (data.Record.ExceptionCode != code) {
        target.Continue(event.ThreadId, 0);
        continue;
      }
      target.StopAll();  // as the debugger holds the process while it handles an event
      atEvent({target, pid, event.ThreadId, data, heapMarker, target.Threads()});
      break;
    }
    kill(pid, SIGKILL);
    // The tracer reaps the killed threads; only then does the process's own status come.
    while (target.WaitForEvent().Kind == TraceEventKind::Signal) {
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
}

// Starts the crasher and holds it at its access violation.
void HoldCrasherAtFault(const std::function<void(const Fault&)>& atFault) {
  int input[2], output[2];
  ASSERT_EQ(pipe(input), 0);
  ASSERT_EQ(pipe(output), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(input[0], STDIN_FILENO);
    dup2(output[1], STDOUT_FILENO);
    execl(CRASHER_PATH, CRASHER_PATH, nullptr);
    _exit(127);
  }
  close(input[0]);
  close(output[1]);
  char ready[21];
  ASSERT_EQ(read(output[0], ready, sizeof(ready)), 21) << "the crasher did not start";
  const std::string marker = "0x" + std::string(ready + 5, 16);
  HoldAtDebugEvent(
      pid, 0xC0000005, marker, [&] { ASSERT_EQ(write(input[1], "g", 1), 1); }, atFault);
  close(input[1]);
  close(output[0]);
}

// The held process, except that a read at `poisoned` fails with an error that carries no HRESULT.
class FailingRead final : public PtraceConnection, public TargetMemory {
 public:
  FailingRead(PtraceConnection& held, std::uint64_t poisoned) : held_(held), poisoned_(poisoned) {}
  pid_t ProcessId() const override { return held_.ProcessId(); }
  bool Attach(pid_t) override { return false; }
  std::vector<pid_t> Threads() override { return held_.Threads(); }
  bool StopAll() override { return held_.StopAll(); }
  void ResumeAll() override {}
  std::optional<ThreadContext> ReadContext(pid_t tid) override { return held_.ReadContext(tid); }
  TargetMemory& Memory() override { return *this; }
  std::optional<std::string> ReadProcFile(const std::string& name) override {
    return held_.ReadProcFile(name);
  }
  TraceEvent WaitForEvent() override { return {}; }
  bool Continue(pid_t, int) override { return false; }
  void DetachAll() override {}
  std::size_t Read(std::uint64_t address, std::span<std::byte> buffer) override {
    if (address == poisoned_) throw std::runtime_error("unreadable");
    return held_.Memory().Read(address, buffer);
  }

 private:
  PtraceConnection& held_;
  std::uint64_t poisoned_;
};

class LiveDump : public ::testing::Test {
 protected:
  std::vector<std::wstring> Parts(pid_t pid, const wchar_t* counter, const wchar_t* code) const {
    return {L"minidump_crasher", std::to_wstring(pid), L"DebugException", counter, code};
  }
  // Writes the dump of the fault and returns the file's path.
  fs::path Dump(const Fault& fault, std::int32_t dumpType, const wchar_t* counter = L"0") const {
    const auto parts = Parts(fault.ProcessId, counter, L"0xC0000005");
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()),
                             {fault.Target, fault.ThreadId, fault.Event, parts, dumpType});
    return directory_ / WideToUtf8Lossy(DumpFileName(parts));
  }

  const TempDir temp_;
  const fs::path directory_ = temp_.path();
};

// The normal dump (the option's "abc"), then one of memory only and a full one of the same fault.
TEST_F(LiveDump, LldbShowsTheCrashingFunctionAndTheDumpHoldsTheFaultAndEveryThread) {
  EXPECT_EQ(DumpTypeFromValue(L"abc"), 0u);
  EXPECT_EQ(DumpTypeFromValue(L"fULL"), DumpTypeFromValue(L"0x1826"));
  EXPECT_EQ(DumpTypeFromValue(L"0x2"), DumpTypeFromValue(L"2"));
  fs::path path;
  pid_t faulting = 0;
  std::vector<pid_t> threads;
  std::map<std::wstring, fs::path> dumps;
  std::string heapMarker;
  HoldCrasherAtFault([&](const Fault& fault) {
    path = Dump(fault, 0);
    faulting = fault.ThreadId;
    threads = fault.Threads;
    heapMarker = fault.HeapMarker;
    for (const wchar_t* value : {L"2", L"fULL"})
      dumps[value] = Dump(fault, static_cast<std::int32_t>(DumpTypeFromValue(value)), value);
  });
  ASSERT_TRUE(fs::exists(path)) << path;
  EXPECT_EQ(path.filename().string().substr(0, 17), "minidump_crasher-");
  EXPECT_EQ(path.filename().string().substr(path.filename().string().size() - 20),
            "ion-0-0xC0000005.dmp");

  const MinidumpReader dump(FileText(path));
  const auto exception = dump.Read<MINIDUMP_EXCEPTION_STREAM>(dump.Stream(ExceptionStream)->Rva);
  EXPECT_EQ(exception.ThreadId, static_cast<std::uint32_t>(faulting));
  EXPECT_EQ(exception.ExceptionRecord.ExceptionCode, 11u) << "SIGSEGV";
  EXPECT_EQ(exception.ExceptionRecord.ExceptionFlags, 0xC0000005u);
  EXPECT_EQ(exception.ExceptionRecord.ExceptionInformation[1], 0u) << "the faulting address";
  const CONTEXT context = dump.Read<CONTEXT>(exception.ThreadContext.Rva);
  EXPECT_EQ(context.Rip, exception.ExceptionRecord.ExceptionAddress)
      << "the context at the fault, not inside the signal handler";

  std::set<std::uint32_t> listed;
  for (const MINIDUMP_THREAD& thread : dump.List<MINIDUMP_THREAD>(*dump.Stream(ThreadListStream))) {
    listed.insert(thread.ThreadId);
    EXPECT_GT(thread.Stack.Memory.DataSize, 0u) << "thread " << thread.ThreadId;
  }
  EXPECT_EQ(listed, std::set<std::uint32_t>(threads.begin(), threads.end()));
  EXPECT_EQ(listed.size(), 3u);

  const std::string bt =
      ShellOutput("lldb --batch -c " + path.string() +
                  " " CRASHER_PATH " -o 'thread backtrace all' -o 'thread list'");
  EXPECT_NE(bt.find("CrashHere"), std::string::npos) << bt;
  EXPECT_NE(bt.find("main"), std::string::npos) << bt;
  EXPECT_NE(bt.find("tid = " + std::to_string(faulting)), std::string::npos) << bt;

  const MinidumpReader& normal = dump;
  const MinidumpReader memoryOnly(FileText(dumps[L"2"]));
  const MinidumpReader full(FileText(dumps[L"fULL"]));
  std::cout << "Normal dump " << normal.Size() << " bytes, full dump " << full.Size() << " bytes\n";
  EXPECT_GT(full.Size(), 10 * normal.Size());
  EXPECT_FALSE(normal.Stream(Memory64ListStream));
  EXPECT_TRUE(memoryOnly.Stream(Memory64ListStream));
  EXPECT_FALSE(memoryOnly.Stream(HandleDataStream));
  for (const std::uint32_t type :
       {Memory64ListStream, HandleDataStream, MemoryInfoListStream, ThreadInfoListStream})
    EXPECT_TRUE(full.Stream(type)) << "stream " << type;
  // Thread times from /proc: each thread was created moments ago and has used little time.
  const auto infoStream = *full.Stream(ThreadInfoListStream);
  const auto infoHeader = full.Read<MINIDUMP_THREAD_INFO_LIST>(infoStream.Rva);
  ASSERT_EQ(infoHeader.NumberOfEntries, 3u);
  const std::uint64_t now =
      (static_cast<std::uint64_t>(std::time(nullptr)) + 11'644'473'600) * 10'000'000;
  for (std::uint32_t i = 0; i < infoHeader.NumberOfEntries; ++i) {
    const auto info = full.Read<MINIDUMP_THREAD_INFO>(infoStream.Rva + 12 + i * 64);
    EXPECT_NEAR(static_cast<double>(info.CreateTime), static_cast<double>(now), 600e7) << i;
    EXPECT_LT(info.UserTime + info.KernelTime, 100'000'000u) << i;
  }
  EXPECT_EQ(normal.Header().Flags, 0u);
  EXPECT_EQ(full.Header().Flags, 0x1826u);

  // Heap memory is only in the full dump, and LLDB reads it from there.
  const std::string read = " -o 'memory read -f s -c 1 " + heapMarker + "'";
  EXPECT_NE(ShellOutput("lldb --batch -c " + dumps[L"fULL"].string() + " " CRASHER_PATH + read)
                .find("heap marker of the crasher"),
            std::string::npos);
  const std::string normalRead =
      ShellOutput("lldb --batch -c " + path.string() + " " CRASHER_PATH + read);
  EXPECT_EQ(normalRead.find("heap marker of the crasher"), std::string::npos) << normalRead;
}

// Names that the first AVC clip of a run could get in the next two minutes.
void TakeFirstClipNames(const fs::path& directory) {
  const std::time_t now = std::time(nullptr);
  for (std::time_t at = now; at < now + 120; ++at) {
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", std::localtime(&at));
    std::ofstream(directory / (std::string(stamp) + "-640x360@144.h264")) << "keep";
  }
}

TEST_F(LiveDump, TheBenchmarksDumpAtARaisedErrorOpensInLldbWithEveryThread) {
  // A copy of the program whose first stream file exists already: the hresult_error raised then
  // (0x80070050) reports its origin to the debugger, and the dump is taken at that event.
  const fs::path program = directory_ / "corvantis";
  fs::copy_file(BENCHMARK_PATH, program);
  fs::copy_file(RUNTIME_PATH, directory_ / fs::path(RUNTIME_PATH).filename());
  TakeFirstClipNames(directory_);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execl(program.c_str(), program.c_str(), "-Adapter:Software", "-Seconds:1", nullptr);
    _exit(127);
  }
  for (int i = 0; i < 500 && fs::read_symlink("/proc/" + std::to_string(pid) + "/exe") != program;
       ++i)
    usleep(10'000);

  fs::path path;
  pid_t raising = 0;
  std::vector<pid_t> threads;
  HoldAtDebugEvent(
      pid, EXCEPTION_RO_ORIGINATEERROR, "", [] {},
      [&](const Fault& fault) {
        const std::vector<std::wstring> parts = {L"corvantis", std::to_wstring(pid),
                                                 L"DebugException", L"0", L"0x80070050"};
        WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()),
                                 {fault.Target, fault.ThreadId, fault.Event, parts, 0});
        path = directory_ / WideToUtf8Lossy(DumpFileName(parts));
        raising = fault.ThreadId;
        threads = fault.Threads;
      });
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(path.filename().string(),
            "corvantis-" + std::to_string(pid) + "-DebugException-0-0x80070050.dmp");

  const MinidumpReader dump(FileText(path));
  std::set<std::uint32_t> listed;
  for (const MINIDUMP_THREAD& thread : dump.List<MINIDUMP_THREAD>(*dump.Stream(ThreadListStream)))
    listed.insert(thread.ThreadId);
  EXPECT_EQ(listed, std::set<std::uint32_t>(threads.begin(), threads.end()));
  EXPECT_GT(listed.size(), 1u) << "the encoder runtime works on threads of its own";
  const std::string status = dump.Bytes(*dump.Stream(LinuxProcStatusStream));
  EXPECT_NE(status.find("Threads:\t" + std::to_string(listed.size()) + "\n"), std::string::npos)
      << "every thread the kernel counted at the dump\n"
      << status;
  const auto exception = dump.Read<MINIDUMP_EXCEPTION_STREAM>(dump.Stream(ExceptionStream)->Rva);
  EXPECT_EQ(exception.ThreadId, static_cast<std::uint32_t>(raising));
  EXPECT_EQ(exception.ExceptionRecord.ExceptionFlags, EXCEPTION_RO_ORIGINATEERROR);

  const std::string lldb = ShellOutput("lldb --batch -c " + path.string() + " " + program.string() +
                                       " -o 'thread list' -o 'thread backtrace all'");
  std::size_t shown = 0;
  for (std::size_t at = lldb.find("tid = "); at != std::string::npos;
       at = lldb.find("tid = ", at + 1))
    ++shown;
  EXPECT_EQ(shown, listed.size()) << lldb;
  EXPECT_NE(lldb.find("hresult_error"), std::string::npos) << "the raising frames by name\n"
                                                           << lldb;
}

TEST_F(LiveDump, ReplacesAnExistingFileAndFallsBackWithoutTheException) {
  HoldCrasherAtFault([&](const Fault& fault) {
    const auto parts = Parts(fault.ProcessId, L"1", L"0x80070005");
    const fs::path path = directory_ / WideToUtf8Lossy(DumpFileName(parts));
    EXPECT_EQ(path.filename().string().substr(path.filename().string().size() - 15),
              "-0x80070005.dmp");
    std::ofstream(path) << std::string(1 << 20, 'x');
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()),
                             {fault.Target, fault.ThreadId, fault.Event, parts, 0});
    const MinidumpReader replaced(FileText(path));
    EXPECT_EQ(replaced.Header().Signature, MINIDUMP_SIGNATURE);
    EXPECT_EQ(FileText(path).find(std::string(64, 'x')), std::string::npos) << "nothing old left";

    // Faults: dumps were made 0644 and a symlink planted under the name was written through.
    const fs::path victim = directory_ / "victim";
    std::ofstream(victim) << "keep";
    fs::remove(path);
    fs::create_symlink(victim, path);
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()),
                             {fault.Target, fault.ThreadId, fault.Event, parts, 0});
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(FileText(victim), "keep");
    EXPECT_TRUE(MinidumpReader(FileText(path)).Stream(ExceptionStream));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 2)
        << "no temporary file left";

    // A thread whose context cannot be read, or a failure of any kind while the dump with the
    // exception is made (once only an hresult_error fell back): written without the exception.
    FailingRead failing(fault.Target, fault.Event.ContextAddress);
    for (PtraceConnection* target : {&fault.Target, static_cast<PtraceConnection*>(&failing)}) {
      WriteMiniDumpInDirectory(
          Utf8ToWide(directory_.string()),
          {*target, target == &failing ? fault.ThreadId : 1, fault.Event, parts, 0});
      const MinidumpReader fallback(FileText(path));
      EXPECT_EQ(fallback.Header().Signature, MINIDUMP_SIGNATURE);
      EXPECT_FALSE(fallback.Stream(ExceptionStream));
      EXPECT_EQ(fallback.List<MINIDUMP_THREAD>(*fallback.Stream(ThreadListStream)).size(), 3u);
    }
  });
}

TEST_F(LiveDump, AFolderThatCannotTakeTheFileOrAPathTooLongRaisesBeforeWriting) {
  LinuxPtraceConnection unattached;
  const DebugEventData event{};
  const std::wstring missing = Utf8ToWide((directory_ / "missing").string());
  EXPECT_EQ(RaisedCode([&] {
              WriteMiniDumpInDirectory(missing, {unattached, 1, event, {L"a", L"0"}, 0});
            }),
            0x80070002u);  // ENOENT as ERROR_FILE_NOT_FOUND
  EXPECT_FALSE(fs::exists(directory_ / "missing"));

  const std::wstring folder = Utf8ToWide(directory_.string());
  const std::wstring longest(259 - folder.size() - 1 - 4, L'n');
  EXPECT_EQ(MiniDumpPath(folder, {longest}).size(), 259u);
  EXPECT_EQ(RaisedCode([&] {
              WriteMiniDumpInDirectory(folder, {unattached, 1, event, {longest + L"n"}, 0});
            }),
            0x800700CEu);  // ERROR_FILENAME_EXCED_RANGE
  EXPECT_TRUE(fs::is_empty(directory_));
}

}  // namespace
}  // namespace corvantis::minidump
