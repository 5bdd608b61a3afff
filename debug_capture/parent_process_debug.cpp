#include "debug_capture/parent_process_debug.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <span>

#include "debug_capture/child_command_line.h"
#include "debug_capture/signal_exception.h"
#include "debug_capture/text.h"
#include "debug_capture/write_minidump.h"
#include "minidump/dump_file_name.h"
#include "platform/fault_signals.h"
#include "platform/hresult_error.h"
#include "platform/module_path.h"
#include "platform/ptrace_connection_linux.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis {

namespace {

constexpr std::size_t kDebugStringUnits = 8191;

// Signals the parent's wait: one byte down the inherited pipe, which is then closed. A number
// that names no pipe is left alone.
void SignalAttached(int fd) {
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) return;
  const char byte = 1;
  while (write(fd, &byte, 1) < 0 && errno == EINTR) {
  }
  close(fd);
}

// The bit of `signal` in a "Sig...:" mask line of a status file.
bool MaskHas(const std::string& status, const char* field, int signal) {
  const auto at = status.find(field);
  if (at == std::string::npos) return false;
  const unsigned long long mask =
      std::strtoull(status.c_str() + at + std::strlen(field), nullptr, 16);
  return signal >= 1 && signal <= 64 && ((mask >> (signal - 1)) & 1u) != 0;
}

class DetachOnExit {
 public:
  explicit DetachOnExit(PtraceConnection& target) : target_(target) {}
  ~DetachOnExit() { target_.DetachAll(); }
  DetachOnExit(const DetachOnExit&) = delete;
  DetachOnExit& operator=(const DetachOnExit&) = delete;

 private:
  PtraceConnection& target_;
};

// The event loop of one attachment.
class Relay {
 public:
  Relay(ParentProcessDebug& debugger, PtraceConnection& target, TargetMemory& memory, pid_t parent,
        std::int32_t dumpType, const MiniDumpWriter& writeDump)
      : debugger_(debugger),
        target_(target),
        memory_(memory),
        parent_(parent),
        dumpType_(dumpType),
        writeDump_(writeDump) {}

  void Run() {
    // The stop of the attach plays the attach breakpoint: nothing to describe.
    target_.ResumeAll();
    for (;;) {
      const TraceEvent event = target_.WaitForEvent();
      if (event.Kind != TraceEventKind::Signal) return;
      holdingAll_ = false;
      const int deliver = Handle(event);
      if (!target_.Continue(event.ThreadId, deliver))
        throw hresult_error(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
                            L"The parent could not be resumed.");
      if (holdingAll_) target_.ResumeAll();
    }
  }

 private:
  // The signal to deliver: 0 for the parent's own debug events and breakpoints, the signal
  // itself otherwise.
  int Handle(const TraceEvent& event) {
    const siginfo_t& info = event.SignalInfo;
    if (info.si_signo == DebugEventSignal() && info.si_code == SI_QUEUE) {
      DebugEventData data{};
      const auto address =
          static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(info.si_value.sival_ptr));
      if (memory_.Read(address, std::as_writable_bytes(std::span(&data, 1))) == sizeof data)
        HandleDebugEvent(event.ThreadId, data);
      return 0;
    }
    if (!IsFaultSignal(info.si_signo)) return info.si_signo;
    const bool last = EndsTheProcess(event.ThreadId, info.si_signo);
    const auto firstChance = firstChances_.find(event.ThreadId);
    if (last && firstChance != firstChances_.end()) {
      // The parent's handler had its first chance and gave the fault back: the second chance,
      // described as the first was, from the registers the thread has now.
      DebugEventData data = firstChance->second;
      firstChances_.erase(firstChance);
      data.ContextAddress = 0;
      HandleException(event.ThreadId, data);
      return info.si_signo;
    }
    // A breakpoint is continued past its int3 with nothing described.
    if (info.si_signo == SIGTRAP && info.si_code != TRAP_TRACE) return 0;
    if (!last) {
      // The parent's handler runs next and raises the fault event, the first chance.
      firstChances_.erase(event.ThreadId);
      return info.si_signo;
    }
    // No handler: the first stop is also the last, so both chances are reported here.
    const auto context = target_.ReadContext(event.ThreadId);
    if (const auto data = ExceptionFromSignal(info, context ? context->Registers.rip : 0)) {
      HandleException(event.ThreadId, *data);
      HandleException(event.ThreadId, *data);
    }
    return info.si_signo;
  }

  // Whether delivering `signal` now takes its default action, which for these signals ends the
  // process: no handler of the parent's runs it (not caught, or caught but blocked) and it is not
  // ignored. For a fault the kernel has already reset a blocked or ignored disposition.
  bool EndsTheProcess(pid_t tid, int signal) {
    const auto status = target_.ReadProcFile("task/" + std::to_string(tid) + "/status");
    if (!status) return true;
    const bool handled =
        MaskHas(*status, "SigCgt:", signal) && !MaskHas(*status, "SigBlk:", signal);
    return !handled && !MaskHas(*status, "SigIgn:", signal);
  }

  void HandleDebugEvent(pid_t tid, const DebugEventData& data) {
    const EXCEPTION_RECORD64& record = data.Record;
    if (record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C ||
        record.ExceptionCode == DBG_PRINTEXCEPTION_C) {
      if (debugger_.DisableDebugOutput == 0 && debugger_.Output)
        RelayDebugString(record, record.ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C);
      return;
    }
    if (record.ExceptionCode == EXCEPTION_BREAKPOINT) return;
    if (data.ContextAddress != 0) firstChances_[tid] = data;
    HandleException(tid, data);
  }

  void RelayDebugString(const EXCEPTION_RECORD64& record, bool wide) {
    const auto length = static_cast<std::size_t>(
        std::min<std::uint64_t>(record.ExceptionInformation[0], kDebugStringUnits));
    const std::uint64_t address = record.ExceptionInformation[1];
    std::wstring text;
    if (wide) {
      const std::size_t copied =
          memory_.Read(address, std::as_writable_bytes(std::span(buffer_)).first(length * 2));
      if (copied == 0) return;
      std::u16string_view units(buffer_.data(), copied / 2);
      text = Utf16ToWide(units.substr(0, units.find(u'\0')));
    } else {
      auto bytes = std::as_writable_bytes(std::span(buffer_)).first(length);
      const std::size_t copied = memory_.Read(address, bytes);
      if (copied == 0) return;
      std::string_view narrow(reinterpret_cast<const char*>(bytes.data()), copied);
      text = Utf8ToWide(narrow.substr(0, narrow.find('\0')));
    }
    text = TrimTrailing(std::move(text));
    if (!text.empty()) debugger_.Output(text.c_str());
  }

  // An exception is described and dumped with every thread of the parent stopped. A line that
  // only relays text needs nothing but the raising thread, which its event holds, so the others
  // run on meanwhile: a trace line then costs the same whatever the number of threads.
  void HoldEveryThread() {
    if (holdingAll_) return;
    holdingAll_ = true;
    // A thread that does not stop in time runs on: the description needs only the event's own
    // thread, and a dump then lacks that thread's registers.
    target_.StopAll();
  }

  void HandleException(pid_t tid, const DebugEventData& data) {
    // An error origin's message is a line of text and never dumped.
    if (data.Record.ExceptionCode != EXCEPTION_RO_ORIGINATEERROR) HoldEveryThread();
    const EXCEPTION_RECORD64& record = data.Record;
    std::wstring codeText = FormatText(L"0x%08X", record.ExceptionCode);
    if (record.ExceptionCode == EXCEPTION_COMPLUS && record.NumberParameters >= 5)
      codeText = FormatText(L"0x%08X", static_cast<std::uint32_t>(record.ExceptionInformation[0]));
    const MapsReader readMaps = [this] { return target_.ReadProcFile("maps"); };
    if (debugger_.DescribeException(memory_, readMaps, record, codeText) == 0) return;
    if (executableName_.empty()) executableName_ = FindFileName(GetExecutablePath());
    const auto parts = corvantis::minidump::DebugExceptionDumpParts(executableName_, parent_,
                                                                    dumpCounter_++, codeText);
    if (writeDump_) writeDump_({target_, tid, data, parts, dumpType_});
  }

  ParentProcessDebug& debugger_;
  PtraceConnection& target_;
  TargetMemory& memory_;
  const pid_t parent_;
  const std::int32_t dumpType_;
  const MiniDumpWriter& writeDump_;
  std::uint32_t dumpCounter_ = 0;
  bool holdingAll_ = false;                       // every thread was stopped for the current event
  std::map<pid_t, DebugEventData> firstChances_;  // fault events whose signal is still to come
  std::wstring executableName_;
  std::vector<char16_t> buffer_ = std::vector<char16_t>(kDebugStringUnits + 1);
};

}  // namespace

bool ParentProcessDebug::RunFromCommandLine(
    const std::vector<std::wstring>& arguments,
    const std::function<void(ParentProcessDebug&)>& configure) {
  const auto request = RecognizeChildCommandLine(arguments);
  if (!request) return false;
  ParentProcessDebug debugger;
  debugger.DisableDebugOutput = request->DisableDebugOutput;
  if (configure) configure(debugger);
  debugger.Run(request->ParentId, request->DumpType, request->EventFd);
  return true;
}

void ParentProcessDebug::Run(std::uint32_t parentId, std::int32_t dumpType, int eventFd) {
  // A parent that stopped reading the event pipe or the shared output must not end the child
  // while it holds the parent. Ctrl-C and the like reach the parent through the child, which
  // passes them on, and the parent's end then ends the child; a child ending first could take
  // the signal it holds with it.
  for (const int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP}) std::signal(signal, SIG_IGN);
  LinuxPtraceConnection connection;
  Run(connection, connection.Memory(), parentId, dumpType, eventFd, WriteMiniDump);
}

void ParentProcessDebug::Run(PtraceConnection& target, TargetMemory& memory, std::uint32_t parentId,
                             std::int32_t dumpType, int eventFd, const MiniDumpWriter& writeDump) {
  const auto parent = static_cast<pid_t>(parentId);
  if (parent <= 0 || !target.Attach(parent))
    throw hresult_error(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
                        L"The parent process could not be attached.");
  DetachOnExit detach(target);
  SignalAttached(eventFd);
  try {
    Relay(*this, target, memory, parent, dumpType, writeDump).Run();
  } catch (...) {
    // Any failure inside the loop ends the relay without a message.
  }
}

}  // namespace corvantis
