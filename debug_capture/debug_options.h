#pragma once
#include <cstdint>

namespace corvantis {

// Parent-side options for the debugger child.
struct DebugOptions {
  std::uint32_t DumpType = 0;            // MINIDUMP_TYPE flags
  std::uint32_t DisableDebugOutput = 0;  // non-zero: the child relays no debug strings
};

inline constexpr std::uint32_t kMiniDumpFull = 0x1826;

}  // namespace corvantis
