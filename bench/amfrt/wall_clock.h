#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>

namespace corvantis {

// Registers a benchmark of `name` timed by the wall clock in `unit`; `args` are the function and
// its arguments, as RegisterBenchmark takes them.
template <class... Args>
benchmark::internal::Benchmark* WallClock(const std::string& name, benchmark::TimeUnit unit,
                                          Args&&... args) {
  return benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
      ->Unit(unit)
      ->UseRealTime();
}

inline std::string SizeName(std::uint32_t width, std::uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace corvantis
