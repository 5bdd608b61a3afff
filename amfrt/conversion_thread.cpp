#include "amfrt/conversion_thread.h"

#include <system_error>

#include "platform/signal_stack.h"

namespace corvantis::amfrt {

ConversionThread::~ConversionThread() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    wake_.wait(lock, [this] { return state_ != State::Taken; });
    state_ = State::Stopping;
  }
  wake_.notify_all();
  thread_.join();
}

bool ConversionThread::Post(const ConversionJob& job) {
  if (!thread_.joinable()) {
    if (startFailed_) return false;
    try {
      thread_ = StartThread([this] { Run(); });
    } catch (const std::system_error&) {
      startFailed_ = true;
      return false;
    }
  }
  {
    std::lock_guard lock(mutex_);
    if (state_ != State::Idle) return false;
    job_ = job;
    state_ = State::Posted;
  }
  wake_.notify_one();
  return true;
}

ConversionThread::Outcome ConversionThread::Finish() {
  std::unique_lock lock(mutex_);
  switch (state_) {
    case State::Posted: state_ = State::Idle; return Outcome::Withdrawn;
    case State::Taken:
    case State::Done:
      wake_.wait(lock, [this] { return state_ == State::Done; });
      state_ = State::Idle;
      return converted_ ? Outcome::Converted : Outcome::Failed;
    default: return Outcome::Withdrawn;
  }
}

void ConversionThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return state_ == State::Posted || state_ == State::Stopping; });
    if (state_ == State::Stopping) return;
    state_ = State::Taken;
    const ConversionJob job = job_;
    lock.unlock();
    const bool converted = job.Run();
    lock.lock();
    converted_ = converted;
    state_ = State::Done;
    wake_.notify_all();
  }
}

}  // namespace corvantis::amfrt
