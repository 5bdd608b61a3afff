#include "minidump/process_reader.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>

#include "minidump/context_amd64.h"
#include "minidump/elf_modules.h"
#include "minidump/machine_files.h"
#include "minidump/proc_maps.h"
#include "minidump/system_snapshot.h"
#include "platform/file_bytes.h"

namespace corvantis::minidump {

namespace {

// The red zone below the stack pointer that leaf functions use without moving it.
constexpr std::uint64_t kRedZone = 128;
constexpr std::uint64_t kMaxStack = 1024 * 1024;

void SetStackRange(ThreadSnapshot& thread, const std::vector<MemoryMapping>& mappings) {
  thread.StackStart = thread.StackSize = 0;
  const MemoryMapping* stack = FindMapping(mappings, thread.Context.Rsp);
  if (!stack) return;
  const std::uint64_t belowRedZone =
      (thread.Context.Rsp - std::min(kRedZone, thread.Context.Rsp)) & ~std::uint64_t{15};
  const std::uint64_t start = std::max(stack->Start, belowRedZone);
  thread.StackStart = start;
  thread.StackSize = std::min(stack->End - start, kMaxStack);
}

// Fields 14, 15 and 22 of /proc/PID/task/TID/stat (user and system time, start time), in
// clock ticks. The command name in field 2 may hold blanks, so counting starts after its ')'.
bool ParseThreadTimes(const std::string& stat, std::uint64_t& user, std::uint64_t& system,
                      std::uint64_t& start) {
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::vector<std::uint64_t> fields;
  const char* at = stat.c_str() + close + 1;
  for (int field = 3; field <= 22 && *at; ++field) {
    while (*at == ' ') ++at;
    char* end = nullptr;
    fields.push_back(std::strtoull(at, &end, 10));
    if (end == at) {  // the state letter
      while (*at && *at != ' ') ++at;
    } else {
      at = end;
    }
  }
  if (fields.size() < 20) return false;
  user = fields[14 - 3];
  system = fields[15 - 3];
  start = fields[22 - 3];
  return true;
}

void ReadThreadTimes(PtraceConnection& target, ThreadSnapshot& thread, std::uint64_t bootTime) {
  const auto stat = target.ReadProcFile("task/" + std::to_string(thread.ThreadId) + "/stat");
  std::uint64_t user = 0, system = 0, start = 0;
  if (!stat || !ParseThreadTimes(*stat, user, system, start)) return;
  const std::uint64_t ticks = static_cast<std::uint64_t>(ClockTicksPerSecond());
  constexpr std::uint64_t kHundredNsPerSecond = 10'000'000;
  constexpr std::uint64_t kUnixEpochInFileTimeSeconds = 11'644'473'600;
  thread.UserTime = user * kHundredNsPerSecond / ticks;
  thread.KernelTime = system * kHundredNsPerSecond / ticks;
  if (bootTime != 0)
    thread.CreateTime = (kUnixEpochInFileTimeSeconds + bootTime) * kHundredNsPerSecond +
                        start * kHundredNsPerSecond / ticks;
}

void AddProcStream(PtraceConnection& target, ProcessSnapshot& snapshot, std::uint32_t type,
                   const char* name) {
  if (auto bytes = target.ReadProcFile(name))
    snapshot.RawStreams.push_back({type, std::move(*bytes)});
}

void AddMachineStream(ProcessSnapshot& snapshot, std::uint32_t type, const char* path) {
  if (auto bytes = ReadFileBytes(path)) snapshot.RawStreams.push_back({type, std::move(*bytes)});
}

}  // namespace

ProcessSnapshot ReadProcessSnapshot(PtraceConnection& target) {
  ProcessSnapshot snapshot;
  snapshot.ProcessId = static_cast<std::uint32_t>(target.ProcessId());
  snapshot.TimeDateStamp = static_cast<std::uint32_t>(std::time(nullptr));
  snapshot.System = ReadSystemSnapshot();

  const std::optional<std::string> maps = target.ReadProcFile("maps");
  if (maps) snapshot.Mappings = ParseProcMaps(*maps);
  snapshot.Modules = FindModules(snapshot.Mappings, target.Memory());

  const std::uint64_t bootTime = BootTime();
  for (const pid_t tid : target.Threads()) {
    const std::optional<ThreadContext> registers = target.ReadContext(tid);
    if (!registers) continue;
    ThreadSnapshot thread;
    thread.ThreadId = static_cast<std::uint32_t>(tid);
    thread.Context = ContextFromRegisters(registers->Registers, registers->FloatingPoint,
                                          registers->DebugRegisters);
    SetStackRange(thread, snapshot.Mappings);
    ReadThreadTimes(target, thread, bootTime);
    snapshot.Threads.push_back(thread);
  }

  if (maps) snapshot.RawStreams.push_back({LinuxMapsStream, *maps});
  AddProcStream(target, snapshot, LinuxProcStatusStream, "status");
  AddProcStream(target, snapshot, LinuxCmdLineStream, "cmdline");
  AddProcStream(target, snapshot, LinuxEnvironStream, "environ");
  AddProcStream(target, snapshot, LinuxAuxvStream, "auxv");
  AddMachineStream(snapshot, LinuxCpuInfoStream, "/proc/cpuinfo");
  AddMachineStream(snapshot, LinuxLsbReleaseStream, "/etc/lsb-release");
  snapshot.Handles = ReadOpenDescriptors(target.ProcessId());
  return snapshot;
}

std::optional<CONTEXT> ReadExceptionContext(PtraceConnection& target, pid_t threadId,
                                            const DebugEventData& event) {
  const std::optional<ThreadContext> registers = target.ReadContext(threadId);
  if (!registers) return std::nullopt;
  const CONTEXT thread = ContextFromRegisters(registers->Registers, registers->FloatingPoint,
                                              registers->DebugRegisters);
  if (event.ContextAddress == 0) return thread;

  ucontext_t frame;
  if (target.Memory().Read(event.ContextAddress, std::as_writable_bytes(std::span(&frame, 1))) !=
      sizeof(frame))
    return std::nullopt;
  user_fpregs_struct fpState;
  const auto fpAddress = reinterpret_cast<std::uint64_t>(frame.uc_mcontext.fpregs);
  const bool haveFp =
      fpAddress != 0 &&
      target.Memory().Read(fpAddress, std::as_writable_bytes(std::span(&fpState, 1))) ==
          sizeof(fpState);
  return ContextFromSignalFrame(frame, haveFp ? &fpState : nullptr, thread);
}

void SetException(ProcessSnapshot& snapshot, pid_t threadId, const EXCEPTION_RECORD64& record,
                  const CONTEXT& context, int signal) {
  snapshot.Exception =
      ExceptionSnapshot{static_cast<std::uint32_t>(threadId), record, context, signal};
  for (ThreadSnapshot& thread : snapshot.Threads) {
    if (thread.ThreadId != static_cast<std::uint32_t>(threadId)) continue;
    thread.Context = context;
    SetStackRange(thread, snapshot.Mappings);
  }
}

}  // namespace corvantis::minidump
