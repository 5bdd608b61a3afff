// What one debug event costs the parent while the debugger child relays it: from the raising
// thread's stop to its resumption, with 0 to 256 other threads in the parent. The relay runs in a
// forked child of this process, writing its lines to /dev/null and no dumps.
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "debug_capture/configure_debugger.h"
#include "debug_capture/parent_process_debug.h"
#include "platform/debug_output.h"
#include "platform/ptrace_connection_linux.h"

namespace corvantis {

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
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p) -
                                    reinterpret_cast<std::uintptr_t>(__ehdr_start));
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
        debugger.Run(connection, connection.Memory(), static_cast<std::uint32_t>(parent), 0,
                     event[1], nullptr);
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

// Threads that exist meanwhile, each blocked until the object goes.
class IdleThreads {
 public:
  explicit IdleThreads(std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i)
      threads_.emplace_back([this] {
        std::unique_lock lock(mutex_);
        ended_.wait(lock, [this] { return stop_; });
      });
  }
  ~IdleThreads() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    ended_.notify_all();
    for (auto& thread : threads_) thread.join();
  }
  IdleThreads(const IdleThreads&) = delete;
  IdleThreads& operator=(const IdleThreads&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable ended_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// A line of text holds only the raising thread, whatever the number of other threads.
void BM_RelayedDebugString(benchmark::State& state) {
  if (!RelayAttached()) {
    state.SkipWithError("the relay could not attach");
    return;
  }
  const IdleThreads others(state.range(0));
  for (auto _ : state)
    OutputDebugStringW(L"AMFEncoderCoreH264: a trace line of the encoder runtime.\r\n");
}
BENCHMARK(BM_RelayedDebugString)->Arg(0)->Arg(8)->Arg(64)->Arg(256)->UseRealTime();

// An exception is described with every other thread stopped and resumed.
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
  const IdleThreads others(state.range(0));
  for (auto _ : state) RaiseDebugEvent(record);
}
BENCHMARK(BM_DescribedException)->Arg(0)->Arg(8)->Arg(64)->Arg(256)->UseRealTime();

}  // namespace

}  // namespace corvantis
