#include <sys/prctl.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "platform/clock.h"

namespace corvantis {

namespace {

// Default timer slack of a Linux thread; a requested period tightens it to the period's
// granularity so that 1 ms sleeps do not oversleep.
constexpr unsigned long kDefaultSlackNs = 50000;
constexpr unsigned long kFineSlackNs = 1000;

class LinuxClock final : public Clock {
 public:
  std::uint32_t TimeGetTime() override {
    return static_cast<std::uint32_t>(MonotonicNanoseconds() / 1000000u);
  }

  std::uint64_t MonotonicNanoseconds() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u +
           static_cast<std::uint64_t>(ts.tv_nsec);
  }

  void Sleep(std::uint32_t milliseconds) override {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &request, &remaining) == EINTR) request = remaining;
  }

  void TimeBeginPeriod(std::uint32_t) override {
    std::lock_guard lock(mutex_);
    if (periods_++ == 0) prctl(PR_SET_TIMERSLACK, kFineSlackNs, 0, 0, 0);
  }

  void TimeEndPeriod(std::uint32_t) override {
    std::lock_guard lock(mutex_);
    if (periods_ > 0 && --periods_ == 0) prctl(PR_SET_TIMERSLACK, kDefaultSlackNs, 0, 0, 0);
  }

  LocalDateTime GetLocalTime() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    LocalDateTime t;
    t.Year = static_cast<std::uint16_t>(tm.tm_year + 1900);
    t.Month = static_cast<std::uint16_t>(tm.tm_mon + 1);
    t.DayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    t.Day = static_cast<std::uint16_t>(tm.tm_mday);
    t.Hour = static_cast<std::uint16_t>(tm.tm_hour);
    t.Minute = static_cast<std::uint16_t>(tm.tm_min);
    t.Second = static_cast<std::uint16_t>(tm.tm_sec);
    t.Milliseconds = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
    return t;
  }

 private:
  std::mutex mutex_;
  unsigned periods_ = 0;
};

}  // namespace

Clock& SystemClock() {
  static LinuxClock clock;
  return clock;
}

}  // namespace corvantis
