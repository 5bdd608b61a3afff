// Dumps of a real crash: a small program faults under a tracer, the dump is written while it is
// held at the fault, and LLDB reads the dump back.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "app/command_line.h"
#include "debug_capture/write_minidump.h"
#include "platform/ptrace_connection_linux.h"
#include "platform/utf.h"
#include "tests/fakes/raised_code.h"
#include "tests/minidump/minidump_reader.h"

namespace corvantis::minidump {
namespace {

using testing::MinidumpReader;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// The output of a shell command, standard error included; a command that hangs is ended.
std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(("timeout 120 " + command + " </dev/null 2>&1").c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> chunk;
  while (const std::size_t n = fread(chunk.data(), 1, chunk.size(), pipe)) output.append(chunk.data(), n);
  pclose(pipe);
  return output;
}

struct Fault {
  PtraceConnection& Target;
  pid_t ProcessId;
  pid_t ThreadId;
  DebugEventData Event;
  std::string HeapMarker;  // address of a text on the crasher's heap
  std::vector<pid_t> Threads;
};

// Starts the crasher, attaches to it, lets it fault, and calls `atFault` while every thread of it
// is held at the access-violation event. The crasher is killed afterwards.
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
  {
    LinuxPtraceConnection target;
    ASSERT_TRUE(target.Attach(pid));
    target.ResumeAll();
    ASSERT_EQ(write(input[1], "g", 1), 1);
    for (;;) {
      const TraceEvent event = target.WaitForEvent();
      ASSERT_EQ(event.Kind, TraceEventKind::Signal) << "the crasher ended without its fault event";
      if (event.SignalInfo.si_signo != DebugEventSignal()) {
        target.Continue(event.ThreadId, event.SignalInfo.si_signo);
        continue;
      }
      DebugEventData data{};
      const auto address = reinterpret_cast<std::uint64_t>(event.SignalInfo.si_value.sival_ptr);
      ASSERT_EQ(target.Memory().Read(address, std::as_writable_bytes(std::span(&data, 1))),
                sizeof(data));
      target.StopAll();  // as the debugger holds the process while it handles an event
      atFault({target, pid, event.ThreadId, data, marker, target.Threads()});
      break;
    }
    kill(pid, SIGKILL);
    // The tracer reaps the killed threads; only then does the process's own status come.
    while (target.WaitForEvent().Kind == TraceEventKind::Signal) {
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(input[1]);
  close(output[0]);
}

class LiveDump : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/minidump-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::vector<std::wstring> Parts(pid_t pid, const wchar_t* counter, const wchar_t* code) const {
    return {L"minidump_crasher", std::to_wstring(pid), L"DebugException", counter, code};
  }
  // Writes the dump of the fault and returns the file's path.
  fs::path Dump(const Fault& fault, std::int32_t dumpType, const wchar_t* counter = L"0") const {
    const auto parts = Parts(fault.ProcessId, counter, L"0xC0000005");
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()), fault.Target, fault.ThreadId,
                             fault.Event, parts, dumpType);
    return directory_ / WideToUtf8Lossy(MiniDumpPath(L"", parts).substr(1));
  }

  fs::path directory_;
};

TEST_F(LiveDump, LldbShowsTheCrashingFunctionAndTheDumpHoldsTheFaultAndEveryThread) {
  fs::path path;
  pid_t faulting = 0;
  std::vector<pid_t> threads;
  HoldCrasherAtFault([&](const Fault& fault) {
    path = Dump(fault, 0);
    faulting = fault.ThreadId;
    threads = fault.Threads;
  });
  ASSERT_TRUE(fs::exists(path)) << path;
  EXPECT_EQ(path.filename().string().substr(0, 17), "minidump_crasher-");
  EXPECT_EQ(path.filename().string().substr(path.filename().string().size() - 20),
            "ion-0-0xC0000005.dmp");

  const MinidumpReader dump(ReadFile(path));
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

  const std::string bt = RunCommand("lldb --batch -c " + path.string() + " " CRASHER_PATH
                             " -o 'thread backtrace all' -o 'thread list'");
  EXPECT_NE(bt.find("CrashHere"), std::string::npos) << bt;
  EXPECT_NE(bt.find("main"), std::string::npos) << bt;
  EXPECT_NE(bt.find("tid = " + std::to_string(faulting)), std::string::npos) << bt;
}

TEST_F(LiveDump, DumpTypesFromTheOptionChooseNormalMemoryOnlyOrFull) {
  EXPECT_EQ(DumpTypeFromValue(L"fULL"), DumpTypeFromValue(L"0x1826"));
  EXPECT_EQ(DumpTypeFromValue(L"0x2"), DumpTypeFromValue(L"2"));
  std::map<std::wstring, fs::path> dumps;
  std::string heapMarker;
  HoldCrasherAtFault([&](const Fault& fault) {
    heapMarker = fault.HeapMarker;
    for (const wchar_t* value : {L"abc", L"2", L"fULL"}) {
      const auto type = static_cast<std::int32_t>(DumpTypeFromValue(value));
      dumps[value] = Dump(fault, type, value);
    }
  });
  const MinidumpReader normal(ReadFile(dumps[L"abc"]));
  const MinidumpReader memoryOnly(ReadFile(dumps[L"2"]));
  const MinidumpReader full(ReadFile(dumps[L"fULL"]));
  std::cout << "Normal dump " << normal.Size() << " bytes, full dump " << full.Size()
            << " bytes\n";
  EXPECT_GT(full.Size(), 10 * normal.Size());
  EXPECT_FALSE(normal.Stream(Memory64ListStream));
  EXPECT_TRUE(memoryOnly.Stream(Memory64ListStream));
  EXPECT_FALSE(memoryOnly.Stream(HandleDataStream));
  for (const std::uint32_t type : {Memory64ListStream, HandleDataStream, MemoryInfoListStream,
                                   ThreadInfoListStream})
    EXPECT_TRUE(full.Stream(type)) << "stream " << type;
  EXPECT_EQ(normal.Header().Flags, 0u);
  EXPECT_EQ(full.Header().Flags, 0x1826u);

  // Heap memory is only in the full dump, and LLDB reads it from there.
  const std::string read = " -o 'memory read -f s -c 1 " + heapMarker + "'";
  EXPECT_NE(RunCommand("lldb --batch -c " + dumps[L"fULL"].string() + " " CRASHER_PATH + read)
                .find("heap marker of the crasher"),
            std::string::npos);
  const std::string normalRead =
      RunCommand("lldb --batch -c " + dumps[L"abc"].string() + " " CRASHER_PATH + read);
  EXPECT_EQ(normalRead.find("heap marker of the crasher"), std::string::npos) << normalRead;
}

TEST_F(LiveDump, ReplacesAnExistingFileAndFallsBackWithoutTheException) {
  HoldCrasherAtFault([&](const Fault& fault) {
    const auto parts = Parts(fault.ProcessId, L"1", L"0x80070005");
    const fs::path path = directory_ / WideToUtf8Lossy(MiniDumpPath(L"", parts).substr(1));
    EXPECT_EQ(path.filename().string().substr(path.filename().string().size() - 15),
              "-0x80070005.dmp");
    std::ofstream(path) << std::string(1 << 20, 'x');
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()), fault.Target, fault.ThreadId,
                             fault.Event, parts, 0);
    const MinidumpReader replaced(ReadFile(path));
    EXPECT_EQ(replaced.Header().Signature, MINIDUMP_SIGNATURE);
    EXPECT_EQ(ReadFile(path).find(std::string(64, 'x')), std::string::npos) << "nothing old left";

    // A thread whose context cannot be read: the dump is written without the exception.
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()), fault.Target, 1, fault.Event,
                             parts, 0);
    const MinidumpReader fallback(ReadFile(path));
    EXPECT_EQ(fallback.Header().Signature, MINIDUMP_SIGNATURE);
    EXPECT_FALSE(fallback.Stream(ExceptionStream));
    EXPECT_EQ(fallback.List<MINIDUMP_THREAD>(*fallback.Stream(ThreadListStream)).size(), 3u);
  });
}

TEST_F(LiveDump, AFolderThatCannotTakeTheFileOrAPathTooLongRaisesBeforeWriting) {
  LinuxPtraceConnection unattached;
  const DebugEventData event{};
  const std::wstring missing = Utf8ToWide((directory_ / "missing").string());
  EXPECT_EQ(RaisedCode([&] {
              WriteMiniDumpInDirectory(missing, unattached, 1, event, {L"a", L"0"}, 0);
            }),
            0x80070002u);  // ENOENT as ERROR_FILE_NOT_FOUND
  EXPECT_FALSE(fs::exists(directory_ / "missing"));

  const std::wstring folder = Utf8ToWide(directory_.string());
  const std::wstring longest(259 - folder.size() - 1 - 4, L'n');
  EXPECT_EQ(MiniDumpPath(folder, {longest}).size(), 259u);
  EXPECT_EQ(RaisedCode([&] {
              WriteMiniDumpInDirectory(folder, unattached, 1, event, {longest + L"n"}, 0);
            }),
            0x800700CEu);  // ERROR_FILENAME_EXCED_RANGE
  EXPECT_TRUE(fs::is_empty(directory_));
}

}  // namespace
}  // namespace corvantis::minidump
