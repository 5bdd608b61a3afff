// Time to write a Normal and a Full dump of the benchmark while it encodes its 3840x2160 clip;
// the benchmark is held stopped throughout, as the debugger child holds it while it writes.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "debug_capture/write_minidump.h"
#include "minidump/dump_file_name.h"
#include "platform/ptrace_connection_linux.h"
#include "platform/utf.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;

// A copy of the benchmark in a folder of its own, started and run until its 4K clip encodes,
// then attached and held.
class HeldBenchmark {
 public:
  HeldBenchmark() {
    char pattern[] = "/tmp/minidump-bench-XXXXXX";
    if (!mkdtemp(pattern)) return;
    directory_ = pattern;
    const fs::path program = directory_ / "corvantis";
    fs::copy_file(BENCHMARK_PATH, program);
    fs::copy_file(RUNTIME_PATH, directory_ / fs::path(RUNTIME_PATH).filename());
    int output[2];
    if (pipe(output) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(output[1], STDOUT_FILENO);
      execl(program.c_str(), program.c_str(), "-Adapter:Software", "-Seconds:4", nullptr);
      _exit(127);
    }
    close(output[1]);
    console_ = fdopen(output[0], "r");
    char* line = nullptr;
    std::size_t size = 0;
    while (getline(&line, &size, console_) > 0) {
      if (std::string(line).rfind("Video: 3840 x 2160", 0) == 0) break;
    }
    std::free(line);
    usleep(1'000'000);  // into the clip: the surface pool and the encoder are set up
    if (target_.Attach(pid_)) attached_ = true;
  }

  ~HeldBenchmark() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      if (attached_)
        while (target_.WaitForEvent().Kind == TraceEventKind::Signal) {
        }
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (console_) fclose(console_);
    if (!directory_.empty()) fs::remove_all(directory_);
  }

  bool Ready() const { return attached_; }

  // Writes one dump of the held benchmark; returns its size in bytes.
  std::uintmax_t Dump(std::int32_t dumpType) {
    DebugEventData event{};
    event.Record.ExceptionCode = 0xE06D7363;
    const std::vector<std::wstring> parts = {L"corvantis", std::to_wstring(pid_), L"DebugException",
                                             L"0", L"0xE06D7363"};
    WriteMiniDumpInDirectory(Utf8ToWide(directory_.string()),
                             {target_, pid_, event, parts, dumpType});
    const fs::path path = directory_ / WideToUtf8Lossy(corvantis::minidump::DumpFileName(parts));
    return fs::file_size(path);
  }

 private:
  fs::path directory_;
  pid_t pid_ = -1;
  FILE* console_ = nullptr;
  LinuxPtraceConnection target_;
  bool attached_ = false;
};

HeldBenchmark& Held() {
  static HeldBenchmark held;
  return held;
}

void WriteDump(benchmark::State& state, std::int32_t dumpType) {
  if (!Held().Ready()) {
    state.SkipWithError("the benchmark did not reach its 4K clip");
    return;
  }
  std::uintmax_t bytes = 0;
  for (auto _ : state) bytes = Held().Dump(dumpType);
  state.counters["dump_MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes * state.iterations()));
}

void BM_NormalDumpOf4KBenchmark(benchmark::State& state) { WriteDump(state, 0); }
void BM_FullDumpOf4KBenchmark(benchmark::State& state) { WriteDump(state, 0x1826); }

BENCHMARK(BM_NormalDumpOf4KBenchmark)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_FullDumpOf4KBenchmark)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

}  // namespace corvantis
