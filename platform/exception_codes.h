#pragma once
#include <cstdint>

namespace corvantis {

// The Windows exception codes this program raises, reads back or describes, under their Windows
// names; the fault signals' codes follow docs/debug-events.md.
inline constexpr std::uint32_t EXCEPTION_ACCESS_VIOLATION = 0xC0000005;
inline constexpr std::uint32_t EXCEPTION_ILLEGAL_INSTRUCTION = 0xC000001D;
inline constexpr std::uint32_t EXCEPTION_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
inline constexpr std::uint32_t EXCEPTION_FLT_DIVIDE_BY_ZERO = 0xC000008E;
inline constexpr std::uint32_t EXCEPTION_FLT_INEXACT_RESULT = 0xC000008F;
inline constexpr std::uint32_t EXCEPTION_FLT_INVALID_OPERATION = 0xC0000090;
inline constexpr std::uint32_t EXCEPTION_FLT_OVERFLOW = 0xC0000091;
inline constexpr std::uint32_t EXCEPTION_FLT_UNDERFLOW = 0xC0000093;
inline constexpr std::uint32_t EXCEPTION_INT_DIVIDE_BY_ZERO = 0xC0000094;
inline constexpr std::uint32_t EXCEPTION_INT_OVERFLOW = 0xC0000095;
inline constexpr std::uint32_t EXCEPTION_PRIV_INSTRUCTION = 0xC0000096;
inline constexpr std::uint32_t EXCEPTION_BREAKPOINT = 0x80000003;
inline constexpr std::uint32_t EXCEPTION_SINGLE_STEP = 0x80000004;
// Raised by abort() as a fail-fast, non-continuable, with the code below as its parameter.
inline constexpr std::uint32_t STATUS_STACK_BUFFER_OVERRUN = 0xC0000409;
inline constexpr std::uint32_t EXCEPTION_NONCONTINUABLE = 1;
inline constexpr std::uint64_t FAST_FAIL_FATAL_APP_EXIT = 7;

inline constexpr std::uint32_t DBG_PRINTEXCEPTION_C = 0x40010006;
inline constexpr std::uint32_t DBG_PRINTEXCEPTION_WIDE_C = 0x4001000A;
inline constexpr std::uint32_t EXCEPTION_RO_ORIGINATEERROR = 0x40080201;
inline constexpr std::uint32_t EXCEPTION_MSVC_CPP = 0xE06D7363;
// An exception of the .NET runtime; its first parameter is the managed error code.
inline constexpr std::uint32_t EXCEPTION_COMPLUS = 0xE0434352;

}  // namespace corvantis
