#pragma once
#include <cstdint>
#include <stdexcept>

#include "platform/clock.h"
#include "tests/fakes/call_log.h"

namespace corvantis {

namespace fakes {

// Thrown when a loop sleeps far more than any test clip needs, so a stall fails fast.
struct ClockStalled : std::runtime_error {
  ClockStalled() : std::runtime_error("the fake clock slept too often") {}
};

// Time moves only when the code under test sleeps or a test moves it. One nanosecond timeline
// underlies both readings: the milliseconds are its whole milliseconds, wrapping at 32 bits.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::uint32_t start = 100000) : ns_(std::uint64_t{start} * kNsPerMs) {}

  std::uint32_t TimeGetTime() override { return static_cast<std::uint32_t>(ns_ / kNsPerMs); }
  std::uint64_t MonotonicNanoseconds() override { return ns_; }
  void Sleep(std::uint32_t milliseconds) override {
    if (++sleeps_ > kMaxSleeps) throw ClockStalled();
    Advance(milliseconds);
    if (log_ != nullptr) log_->Add("Sleep");
  }
  void TimeBeginPeriod(std::uint32_t milliseconds) override {
    ++periodBegins_;
    lastPeriod_ = milliseconds;
    periodStart_ = TimeGetTime();
  }
  void TimeEndPeriod(std::uint32_t milliseconds) override {
    ++periodEnds_;
    lastPeriod_ = milliseconds;
  }
  LocalDateTime GetLocalTime() override { return local_; }

  // Forward to the start of millisecond `now` (a lower value is reached after the wrap); the
  // current millisecond stays as it is, so that time never runs back.
  void SetNow(std::uint32_t now) {
    const std::uint32_t ahead = now - TimeGetTime();
    if (ahead != 0) ns_ = (ns_ / kNsPerMs + ahead) * kNsPerMs;
  }
  void Advance(std::uint32_t milliseconds) { ns_ += std::uint64_t{milliseconds} * kNsPerMs; }
  void AdvanceMicroseconds(std::uint32_t microseconds) {
    ns_ += std::uint64_t{microseconds} * 1000u;
  }
  void SetLocalTime(const LocalDateTime& local) { local_ = local; }
  void SetLog(CallLog* log) { log_ = log; }

  int PeriodBegins() const { return periodBegins_; }
  int PeriodEnds() const { return periodEnds_; }
  std::uint32_t LastPeriod() const { return lastPeriod_; }
  // The time when the period was last begun: the loop takes its start time right after.
  std::uint32_t PeriodStart() const { return periodStart_; }

 private:
  static constexpr std::uint64_t kNsPerMs = 1000000;
  static constexpr std::uint64_t kMaxSleeps = 200000;
  std::uint64_t ns_;
  std::uint64_t sleeps_ = 0;
  int periodBegins_ = 0;
  int periodEnds_ = 0;
  std::uint32_t lastPeriod_ = 0;
  std::uint32_t periodStart_ = 0;
  LocalDateTime local_{2024, 1, 3, 31, 14, 25, 1, 0};
  CallLog* log_ = nullptr;
};

}  // namespace fakes

}  // namespace corvantis
