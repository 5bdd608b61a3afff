#pragma once
#include <csignal>
#include <cstdint>

#include "platform/exception_codes.h"

namespace corvantis {

// Exception record in the x64 layout of EXCEPTION_RECORD64; a debugger reads it from this
// process's memory when a debug event is raised.
struct EXCEPTION_RECORD64 {
  std::uint32_t ExceptionCode;
  std::uint32_t ExceptionFlags;
  std::uint64_t ExceptionRecord;
  std::uint64_t ExceptionAddress;
  std::uint32_t NumberParameters;
  std::uint32_t UnusedAlignment;
  std::uint64_t ExceptionInformation[15];
};
static_assert(sizeof(EXCEPTION_RECORD64) == 152);

// What the signal's value points at. For a fault (a synchronous signal turned into an exception)
// ContextAddress is the address of the faulting thread's ucontext_t in the raising process, so the
// tracer sees the registers at the fault rather than those of the signal handler, and Signal is
// the fault's signal (SIGBUS and SIGSEGV share one code); otherwise both are 0.
struct DebugEventData {
  EXCEPTION_RECORD64 Record;
  std::uint64_t ContextAddress;
  std::int32_t Signal = 0;
  std::uint32_t Reserved = 0;
};
static_assert(sizeof(DebugEventData) == 168);

// The real-time signal that carries a debug event to the tracer; its value points at a
// DebugEventData. Without a tracer it is ignored.
inline int DebugEventSignal() { return SIGRTMAX - 2; }

// Raises the event on the calling thread; the tracer reads the data while this thread is stopped
// inside the call, so it must stay valid until the call returns. Without a tracer the signal is
// dropped. Callers check for a tracer first to spare building the data. Async-signal-safe.
void RaiseDebugEvent(const DebugEventData& event);
inline void RaiseDebugEvent(const EXCEPTION_RECORD64& record) {
  RaiseDebugEvent(DebugEventData{record, 0});
}

}  // namespace corvantis
