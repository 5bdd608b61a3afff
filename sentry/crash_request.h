#pragma once

#include <signal.h>
#include <sys/types.h>
#include <sys/ucontext.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace corvantis::sentry {

// What the crashing process hands its handler process, in one fixed-size message: built inside
// the signal handler, so no pointers to follow except into the crashed process's memory.
struct CrashRequest {
  static constexpr std::uint32_t kMagic = 0x48535243;  // "CRSH"
  static constexpr std::uint32_t kVersion = 1;

  std::uint32_t Magic;
  std::uint32_t Version;
  std::int32_t Pid;
  std::int32_t Tid;
  std::int32_t Signal;
  std::int32_t Reserved;
  // The signal frame's ucontext_t in the crashed process: the registers at the fault.
  std::uint64_t ContextAddress;
  siginfo_t Info;
  ucontext_t Context;
  _libc_fpstate FloatingPoint;
};
static_assert(std::is_trivially_copyable_v<CrashRequest>);
static_assert(sizeof(siginfo_t) == 128);

// The handler process answers every request with this one byte once it has what it needs from
// the crashed process, which may then die.
inline constexpr unsigned char kCrashAcknowledged = 'A';

// The channel's first message, from the client, is the DSN, at most this long.
inline constexpr std::size_t kMaxHandlerDsnBytes = 4096;

// How long the crashing thread waits for the acknowledgement, counted from the request on.
inline constexpr int kAcknowledgeTimeoutMs = 8000;
// How long the handler may hold the crashed process for its dump and its store: well within
// the wait above, since a stopped process cannot count its own time.
inline constexpr int kCaptureBudgetMs = 6000;

}  // namespace corvantis::sentry
