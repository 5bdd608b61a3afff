// What one debug event costs the parent while the debugger child relays it: from the raising
// thread's stop to its resumption, with every thread held meanwhile. The relay runs in a forked
// child of this process, writing its lines to /dev/null and no dumps.
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "debug_capture/configure_debugger.h"
#include "debug_capture/parent_process_debug.h"
#include "platform/debug_output.h"
#include "platform/ptrace_connection_linux.h"

extern "C" const char __ehdr_start[];

namespace {

struct TypeDescriptor {
  std::uint64_t VirtualTable;
  std::uint64_t Spare;
  char Name[32];
};
TypeDescriptor g_descriptor{0, 0, ".?AUhresult_error@winrt@@"};
std::uint32_t g_catchableType[7];
std::uint32_t g_typeArray[2];
std::uint32_t g_throwInfo[4];

std::uint32_t Offset(const void* p) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(__ehdr_start));
}

// Starts the relay once for the whole run; false when it could not attach.
bool RelayAttached() {
  static const bool attached = [] {
    int event[2];
    if (pipe(event) != 0) return false;
    const pid_t parent = getpid();
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
    if (fork() == 0) {
      close(event[0]);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      ParentProcessDebug debugger;
      ConfigureDebugger(debugger);
      LinuxPtraceConnection connection;
      try {
        debugger.Run(connection, connection.Memory(), static_cast<std::uint32_t>(parent), 0, event[1], nullptr);
      } catch (...) {
      }
      _exit(0);
    }
    close(event[1]);
    char byte;
    const bool signalled = read(event[0], &byte, 1) == 1;
    close(event[0]);
    return signalled && IsDebuggerPresent();
  }();
  return attached;
}

void BM_RelayedDebugString(benchmark::State& state) {
  if (!RelayAttached()) {
    state.SkipWithError("the relay could not attach");
    return;
  }
  for (auto _ : state) OutputDebugStringW(L"AMFEncoderCoreH264: a trace line of the encoder runtime.\r\n");
}
BENCHMARK(BM_RelayedDebugString)->UseRealTime();

void BM_DescribedException(benchmark::State& state) {
  if (!RelayAttached()) {
    state.SkipWithError("the relay could not attach");
    return;
  }
  unsigned char object[24] = {};
  const std::uint32_t hresult = 0x80070050;
  std::memcpy(object + 12, &hresult, 4);
  g_catchableType[1] = Offset(&g_descriptor);
  g_catchableType[5] = sizeof object;
  g_typeArray[0] = 1;
  g_typeArray[1] = Offset(g_catchableType);
  g_throwInfo[3] = Offset(g_typeArray);
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = EXCEPTION_MSVC_CPP;
  record.NumberParameters = 4;
  record.ExceptionInformation[0] = 0x19930520;
  record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(object);
  record.ExceptionInformation[2] = reinterpret_cast<std::uintptr_t>(g_throwInfo);
  record.ExceptionInformation[3] = reinterpret_cast<std::uintptr_t>(__ehdr_start);
  for (auto _ : state) RaiseDebugEvent(record);
}
BENCHMARK(BM_DescribedException)->UseRealTime();

// The same string while other threads exist, each blocked until the run ends: the relay stops
// and resumes every one of them at every event.
void BM_RelayedDebugStringWithThreads(benchmark::State& state) {
  if (!RelayAttached()) {
    state.SkipWithError("the relay could not attach");
    return;
  }
  std::mutex mutex;
  std::condition_variable ended;
  bool stop = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < state.range(0); ++i)
    threads.emplace_back([&] {
      std::unique_lock lock(mutex);
      ended.wait(lock, [&] { return stop; });
    });
  for (auto _ : state) OutputDebugStringW(L"AMFEncoderCoreH264: a trace line of the encoder runtime.\r\n");
  {
    std::lock_guard lock(mutex);
    stop = true;
  }
  ended.notify_all();
  for (auto& thread : threads) thread.join();
}
BENCHMARK(BM_RelayedDebugStringWithThreads)->Arg(8)->Arg(64)->Arg(256)->UseRealTime();

}  // namespace
