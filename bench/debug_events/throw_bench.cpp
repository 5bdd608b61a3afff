// What the throw interposer adds to every throw while no debugger is attached: the cached check.
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "platform/debug_output.h"
#include "platform/hresult_error.h"

namespace corvantis {

namespace {

void ThrowAndCatchHresult(benchmark::State& state) {
  for (auto _ : state) {
    try {
      throw E_FAIL;
    } catch (HRESULT code) {
      benchmark::DoNotOptimize(code);
    }
  }
}
BENCHMARK(ThrowAndCatchHresult);

void ThrowAndCatchRuntimeError(benchmark::State& state) {
  const std::runtime_error error("x");
  for (auto _ : state) {
    try {
      throw error;
    } catch (const std::exception& caught) {
      benchmark::DoNotOptimize(&caught);
    }
  }
}
BENCHMARK(ThrowAndCatchRuntimeError);

void CachedDebuggerCheck(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(DebuggerMayBePresent());
}
BENCHMARK(CachedDebuggerCheck);

// The check the cache spares: /proc/self/status read each time.
void FullDebuggerCheck(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(IsDebuggerPresent());
}
BENCHMARK(FullDebuggerCheck);

}  // namespace

}  // namespace corvantis
