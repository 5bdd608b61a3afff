// What one debug event costs the parent while the debugger child relays it: from the raising
// thread's stop to its resumption, with 0 to 256 other threads in the parent. The relay runs in a
// forked child of this process, writing its lines to /dev/null and no dumps.
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "debug_capture/configure_debugger.h"
#include "debug_capture/parent_process_debug.h"
#include "platform/debug_output.h"
#include "platform/ptrace_connection_linux.h"
#include "tests/fakes/thrown_hresult.h"

namespace corvantis {

namespace {

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
  const fakes::ThrownHresult thrown(0x80070050);
  const IdleThreads others(state.range(0));
  for (auto _ : state) RaiseDebugEvent(thrown.Record);
}
BENCHMARK(BM_DescribedException)->Arg(0)->Arg(8)->Arg(64)->Arg(256)->UseRealTime();

}  // namespace

}  // namespace corvantis
