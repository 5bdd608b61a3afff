#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>

#include <gtest/gtest.h>

#include "debug_capture/child_command_line.h"
#include "debug_capture/parent_process_debug.h"
#include "exception_images.h"
#include "platform/hresult_error.h"
#include "platform/module_path.h"

namespace corvantis {

namespace {

constexpr pid_t kParent = 42;
constexpr std::uint64_t kEventData = 0x7f0000020000;

// Plays a script of events; logs what the relay asks of it.
class ScriptedConnection final : public PtraceConnection {
 public:
  pid_t ProcessId() const override { return kParent; }
  bool Attach(pid_t pid) override {
    Log.push_back("attach " + std::to_string(pid));
    return AttachWorks;
  }
  std::vector<pid_t> Threads() override { return {kParent}; }
  bool StopAll() override {
    Log.push_back("stop");
    return true;
  }
  void ResumeAll() override { Log.push_back("resume"); }
  std::optional<ThreadContext> ReadContext(pid_t) override {
    ThreadContext context{};
    context.Registers.rip = 0x401000;
    return context;
  }
  TargetMemory& Memory() override { return Image; }
  std::optional<std::string> ReadProcFile(const std::string& name) override {
    const auto found = ProcFiles.find(name);
    return found == ProcFiles.end() ? std::nullopt : std::optional(found->second);
  }
  TraceEvent WaitForEvent() override {
    TraceEvent event;
    event.Kind = TraceEventKind::ProcessExited;
    if (!Script.empty()) {
      event = Script.front();
      Script.pop_front();
    }
    return event;
  }
  bool Continue(pid_t tid, int signal) override {
    Log.push_back("continue " + std::to_string(tid) + " " + std::to_string(signal));
    return ContinueWorks;
  }
  void DetachAll() override { Log.push_back("detach"); }

  // A debug event of the parent on `tid`, its data at a fresh address.
  void AddDebugEvent(pid_t tid, const EXCEPTION_RECORD64& record,
                     std::uint64_t contextAddress = 0) {
    const std::uint64_t address = kEventData + Script.size() * 0x100;
    Image.PutValue(address, DebugEventData{record, contextAddress});
    TraceEvent event;
    event.Kind = TraceEventKind::Signal;
    event.ThreadId = tid;
    event.SignalInfo.si_signo = DebugEventSignal();
    event.SignalInfo.si_code = SI_QUEUE;
    event.SignalInfo.si_value.sival_ptr = reinterpret_cast<void*>(address);
    Script.push_back(event);
  }
  void AddString(std::string_view bytes, bool wide, std::uint64_t length) {
    const std::uint64_t address = kMessage + Script.size() * 0x10000;
    Image.Put(address, bytes);
    EXCEPTION_RECORD64 record{};
    record.ExceptionCode = wide ? DBG_PRINTEXCEPTION_WIDE_C : DBG_PRINTEXCEPTION_C;
    record.NumberParameters = 2;
    record.ExceptionInformation[0] = length;
    record.ExceptionInformation[1] = address;
    AddDebugEvent(kParent, record);
  }
  void AddSignal(pid_t tid, int signal) {
    TraceEvent event;
    event.Kind = TraceEventKind::Signal;
    event.ThreadId = tid;
    event.SignalInfo.si_signo = signal;
    event.SignalInfo.si_code = SEGV_MAPERR;
    Script.push_back(event);
  }

  bool AttachWorks = true;
  bool ContinueWorks = true;
  std::deque<TraceEvent> Script;
  std::map<std::string, std::string> ProcFiles{{"maps", kMaps}};
  std::vector<std::string> Log;
  fakes::FakeMemory Image;
};

struct Dump {
  pid_t Thread;
  std::vector<std::wstring> Parts;
  std::uint64_t Address;  // ExceptionInformation[1] of the event
};

struct Relayed {
  std::vector<std::wstring> Lines;
  std::vector<Dump> Dumps;
};

Relayed RunRelay(ScriptedConnection& connection, int disableDebugOutput, int eventFd = -1,
                 bool failingDump = false) {
  Relayed relayed;
  ParentProcessDebug debugger;
  debugger.DisableDebugOutput = disableDebugOutput;
  debugger.Output = [&relayed](const wchar_t* text) { relayed.Lines.emplace_back(text); };
  debugger.ExceptionFilter = DefaultExceptionFilter;
  const MiniDumpWriter writeDump = [&](const MiniDumpRequest& request) {
    EXPECT_EQ(&request.Target, &connection);
    EXPECT_EQ(request.DumpType, 0x1826);
    if (failingDump) throw hresult_error(E_FAIL);
    relayed.Dumps.push_back(
        {request.ThreadId, request.NameParts, request.Event.Record.ExceptionInformation[1]});
  };
  debugger.Run(connection, connection.Image, kParent, 0x1826, eventFd, writeDump);
  return relayed;
}

TEST(EventLoopTest, DebugStringsAreRelayedTrimmedAndCappedHoldingOnlyTheRaisingThread) {
  for (const int disable : {0, 1}) {
    ScriptedConnection connection;
    const std::u16string hello = u"Hello, w\u00f6rld.\r\n";
    connection.AddString(std::string(reinterpret_cast<const char*>(hello.data()), hello.size() * 2),
                         true, hello.size() + 1);
    connection.AddString("caf\xC3\xA9 a.b.\n", false, 12);
    connection.AddString("lone \xE9", false, 7);
    connection.AddString(". \r\n\t", false, 6);                   // nothing left after trimming
    connection.AddString(std::string(20000, 'w'), false, 20000);  // cut at 8191
    connection.AddString("x", false, 0);                          // empty
    EXCEPTION_RECORD64 unreadable{};
    unreadable.ExceptionCode = DBG_PRINTEXCEPTION_WIDE_C;
    unreadable.ExceptionInformation[0] = 5;
    unreadable.ExceptionInformation[1] = 0x1000;
    connection.AddDebugEvent(kParent, unreadable);
    connection.AddString("x", false, 2);
    connection.Script.back().SignalInfo.si_value.sival_ptr = nullptr;  // unreadable event data
    int event[2];
    ASSERT_EQ(pipe(event), 0);

    const Relayed relayed = RunRelay(connection, disable, event[1]);

    char byte = 0;
    EXPECT_EQ(read(event[0], &byte, 1), 1);
    EXPECT_EQ(read(event[0], &byte, 1), 0);  // signalled once and closed
    close(event[0]);
    if (disable) {
      EXPECT_TRUE(relayed.Lines.empty());
    } else {
      ASSERT_EQ(relayed.Lines.size(), 4u);
      EXPECT_EQ(relayed.Lines[0], L"Hello, w\u00f6rld");
      EXPECT_EQ(relayed.Lines[1], L"caf\u00e9 a.b");
      EXPECT_EQ(relayed.Lines[2], L"lone \uFFFD");
      EXPECT_EQ(relayed.Lines[3], std::wstring(8191, L'w'));
    }
    // Only the raising thread is held for a line of text; the others run on.
    std::vector<std::string> expected{"attach 42", "resume"};
    for (int i = 0; i < 8; ++i) expected.push_back("continue 42 0");
    expected.push_back("detach");
    EXPECT_EQ(connection.Log, expected);
  }
}

// Faults: a breakpoint trap was delivered (and killed the parent); a fault left unhandled was
// reported once instead of at its first and its last chance.
TEST(EventLoopTest, ExceptionsAreDescribedAndDumpedAtEachChanceAndRealSignalsPassedOn) {
  ScriptedConnection connection;
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = 0x80000003;  // a breakpoint: nothing
  connection.AddDebugEvent(kParent, record);
  connection.AddDebugEvent(kParent, PutThrow(connection.Image, ".?AUhresult_error@winrt@@", 24,
                                             std::string(12, '\0') + Le32(0x80070050) + Le64(0)));
  record.ExceptionCode = 0x406D1388;  // thread naming: filtered, no dump
  connection.AddDebugEvent(kParent, record);
  // The handler's fault event is the first chance; its signal, given back to the default
  // action, the second.
  record.ExceptionCode = 0xC0000005;
  record.ExceptionInformation[1] = 0x10;
  connection.ProcFiles["task/43/status"] = "SigBlk:\t0000000000000000\nSigCgt:\t0000000000000000\n";
  connection.AddDebugEvent(43, record, 0x7ffd0000);
  connection.AddSignal(43, SIGSEGV);
  // Without a handler of the parent's own both chances come at the one stop.
  connection.ProcFiles["task/44/status"] = "SigBlk:\t0000000000000000\nSigCgt:\t0000000000000000\n";
  connection.AddSignal(44, SIGSEGV);
  connection.Script.back().SignalInfo.si_addr = reinterpret_cast<void*>(0x401000);
  // One with a handler waits for the handler's fault event.
  connection.ProcFiles["task/45/status"] = "SigBlk:\t0000000000000000\nSigCgt:\t0000000000000400\n";
  connection.AddSignal(45, SIGSEGV);
  // A breakpoint trap, with or without a handler, is continued past its int3.
  connection.AddSignal(45, SIGTRAP);
  connection.AddSignal(kParent, SIGUSR1);
  connection.Image.Put(kMessage, std::string(reinterpret_cast<const char*>(u"gone."), 10));
  record.ExceptionCode = EXCEPTION_RO_ORIGINATEERROR;
  record.ExceptionInformation[1] = 5;
  record.ExceptionInformation[2] = kMessage;
  connection.AddDebugEvent(kParent, record);

  const Relayed relayed = RunRelay(connection, 1);

  EXPECT_EQ(relayed.Lines,
            (std::vector<std::wstring>{
                L"Exception: Module corvantis, winrt::hresult_error, 0x80070050", L"Exception: ",
                L"Exception: ", L"Exception: ", L"Exception: ", L"gone."}));
  const std::wstring executable = FindFileName(GetExecutablePath());
  ASSERT_EQ(relayed.Dumps.size(), 5u);
  EXPECT_EQ(relayed.Dumps[0].Parts,
            (std::vector<std::wstring>{executable, L"42", L"DebugException", L"0", L"0x80070050"}));
  for (std::size_t i = 1; i < 5; ++i) {
    EXPECT_EQ(relayed.Dumps[i].Parts,
              (std::vector<std::wstring>{executable, L"42", L"DebugException", std::to_wstring(i),
                                         L"0xC0000005"}));
    EXPECT_EQ(relayed.Dumps[i].Thread, i < 3 ? 43 : 44);
  }
  EXPECT_EQ(relayed.Dumps[2].Address, 0x10u) << "the second chance is the first one's record";
  EXPECT_EQ(relayed.Dumps[3].Address, 0x401000u);
  EXPECT_EQ(relayed.Dumps[4].Address, 0x401000u);
  std::vector<std::string> continued;
  for (const std::string& entry : connection.Log)
    if (entry.rfind("continue", 0) == 0) continued.push_back(entry);
  EXPECT_EQ(continued, (std::vector<std::string>{
                           "continue 42 0", "continue 42 0", "continue 42 0", "continue 43 0",
                           "continue 43 11", "continue 44 11", "continue 45 11", "continue 45 0",
                           "continue 42 10", "continue 42 0"}));
  // Every thread is held while an exception is described (throw, thread naming, the fault event,
  // its second chance, the unhandled fault), and resumed after.
  EXPECT_EQ(std::count(connection.Log.begin(), connection.Log.end(), "stop"), 5);
  EXPECT_EQ(std::count(connection.Log.begin(), connection.Log.end(), "resume"), 6);
  EXPECT_EQ(connection.Log.back(), "detach");
}

TEST(EventLoopTest, FailuresEndTheRelayQuietlyAndAlwaysDetach) {
  for (const int failure : {0, 1, 2}) {
    ScriptedConnection connection;
    connection.ContinueWorks = failure != 0;
    EXCEPTION_RECORD64 record{};
    record.ExceptionCode = 0xC0000005;
    connection.AddDebugEvent(kParent, record);
    connection.AddDebugEvent(kParent, record);
    ParentProcessDebug debugger;
    if (failure == 2) {  // an exception to report and no Output
      debugger.Run(connection, connection.Image, kParent, 0, -1, nullptr);
    } else {
      RunRelay(connection, 0, -1, failure == 1);
    }
    EXPECT_EQ(connection.Script.size(), 1u) << failure;  // the second event is never waited for
    EXPECT_EQ(connection.Log.back(), "detach") << failure;
  }

  ScriptedConnection refused;
  refused.AttachWorks = false;
  int event[2];
  ASSERT_EQ(pipe2(event, O_NONBLOCK), 0);
  ParentProcessDebug debugger;
  EXPECT_THROW(debugger.Run(refused, refused.Image, kParent, 0, event[1], nullptr), hresult_error);
  char byte;
  EXPECT_EQ(read(event[0], &byte, 1), -1);  // not signalled
  EXPECT_EQ(refused.Log, (std::vector<std::string>{"attach 42"}));
  close(event[0]);
  close(event[1]);
}

TEST(ChildCommandLineTest, RecognisesOnlyItsOwnExactOptions) {
  struct Case {
    std::vector<std::wstring> Arguments;
    std::optional<std::vector<std::int64_t>> Expected;  // disable, parent, dump type, event
  };
  const Case cases[] = {
      {{L"/bin/corvantis", L"-DisableDebugOutput", L"-ParentProcessDebug", L"4242", L"6182", L"7"},
       std::vector<std::int64_t>{1, 4242, 6182, 7}},
      {{L"p", L"-ParentProcessDebug", L" +12abc"}, std::vector<std::int64_t>{0, 12, 0, -1}},
      {{L"p", L"-ParentProcessDebug:x", L"12", L"-3", L"x"},
       std::vector<std::int64_t>{0, 12, -3, 0}},
      {{L"p", L"-ParentProcessDebug", L"12", L"-DisableDebugOutput"},
       std::vector<std::int64_t>{0, 12, 0, -1}},
      {{L"p", L"-ParentProcessDebug"}, std::nullopt},
      {{L"p", L"-ParentProcessDebug", L"0"}, std::nullopt},
      {{L"p", L"-ParentProcessDebug", L"abc"}, std::nullopt},
      {{L"p", L"-parentprocessdebug", L"12"}, std::nullopt},
      {{L"p", L"ParentProcessDebug", L"12"}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto request = RecognizeChildCommandLine(c.Arguments);
    ASSERT_EQ(request.has_value(), c.Expected.has_value()) << c.Arguments.size();
    if (!request) continue;
    EXPECT_EQ((std::vector<std::int64_t>{request->DisableDebugOutput, request->ParentId,
                                         request->DumpType, request->EventFd}),
              *c.Expected);
  }
  EXPECT_EQ(StrToIntDecimal(L"\t -2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(StrToIntDecimal(L"4294967297"), 1);
  EXPECT_FALSE(
      ParentProcessDebug::RunFromCommandLine({L"p", L"-ParentProcessDebug", L"0"}, nullptr));
}

}  // namespace

}  // namespace corvantis
