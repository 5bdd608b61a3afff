#pragma once
#include <cstdint>

namespace corvantis {

// Local calendar time with the fields of SYSTEMTIME.
struct LocalDateTime {
  std::uint16_t Year = 0;
  std::uint16_t Month = 0;
  std::uint16_t DayOfWeek = 0;
  std::uint16_t Day = 0;
  std::uint16_t Hour = 0;
  std::uint16_t Minute = 0;
  std::uint16_t Second = 0;
  std::uint16_t Milliseconds = 0;
};

// Millisecond pacing clock: a 32-bit counter that wraps, compared by signed difference.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t TimeGetTime() = 0;
  // The same monotonic time at the clock's own resolution, in ns from an arbitrary origin: for
  // measuring, never for pacing.
  virtual std::uint64_t MonotonicNanoseconds() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // Finer sleeps while a period is requested; calls nest and must be balanced.
  virtual void TimeBeginPeriod(std::uint32_t milliseconds) = 0;
  virtual void TimeEndPeriod(std::uint32_t milliseconds) = 0;
  virtual LocalDateTime GetLocalTime() = 0;
};

// The machine's clock (monotonic milliseconds, local time of the process's zone).
Clock& SystemClock();

}  // namespace corvantis
