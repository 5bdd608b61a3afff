#include "amfrt/split_conversion.h"

#include <system_error>

namespace amfrt {
namespace {

// Below this many pixels the hand-over costs about what the second thread saves.
constexpr long long kMinSplitPixels = 1280LL * 720;

}  // namespace

SplitI420Converter::~SplitI420Converter() {
  if (!helper_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    state_ = State::Stopping;
  }
  wake_.notify_all();
  helper_.join();
}

bool SplitI420Converter::ConvertPart(const Part& part) {
  return ConvertBgraToI420(part.bgra, part.bgraStride, part.width, part.height, part.out);
}

bool SplitI420Converter::StartHelper() {
  if (helper_.joinable()) return true;
  if (helperFailed_) return false;
  try {
    helper_ = std::thread(&SplitI420Converter::Run, this);
  } catch (const std::system_error&) {
    helperFailed_ = true;
  }
  return !helperFailed_;
}

bool SplitI420Converter::Convert(const std::uint8_t* bgra, int bgraStride, int width, int height,
                                 const I420Planes& out) {
  // An even number of upper rows, so that each half has chroma rows of its own.
  const int upperRows = height / 4 * 2;
  if (static_cast<long long>(width) * height < kMinSplitPixels || upperRows == 0 || bgra == nullptr ||
      out.y == nullptr || out.u == nullptr || out.v == nullptr || !StartHelper())
    return ConvertBgraToI420(bgra, bgraStride, width, height, out);

  const Part upper{bgra, bgraStride, width, upperRows, out};
  const int chromaRows = upperRows / 2;
  const Part lower{bgra + static_cast<std::ptrdiff_t>(upperRows) * bgraStride, bgraStride, width, height - upperRows,
                   I420Planes{out.y + static_cast<std::ptrdiff_t>(upperRows) * out.yStride, out.yStride,
                              out.u + static_cast<std::ptrdiff_t>(chromaRows) * out.uStride, out.uStride,
                              out.v + static_cast<std::ptrdiff_t>(chromaRows) * out.vStride, out.vStride}};
  {
    std::lock_guard lock(mutex_);
    lower_ = lower;
    state_ = State::Posted;
  }
  wake_.notify_one();
  const bool upperResult = ConvertPart(upper);

  std::unique_lock lock(mutex_);
  bool lowerResult;
  if (state_ == State::Posted) {
    // The helper has not started yet (a busy machine): waiting for it would cost more than the
    // lower half itself.
    state_ = State::Idle;
    lock.unlock();
    lowerResult = ConvertPart(lower);
  } else {
    wake_.wait(lock, [this] { return state_ == State::Done; });
    state_ = State::Idle;
    lowerResult = lowerResult_;
  }
  return upperResult && lowerResult;
}

void SplitI420Converter::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return state_ == State::Posted || state_ == State::Stopping; });
    if (state_ == State::Stopping) return;
    state_ = State::Taken;
    const Part part = lower_;
    lock.unlock();
    const bool result = ConvertPart(part);
    lock.lock();
    lowerResult_ = result;
    state_ = State::Done;
    wake_.notify_all();
  }
}

}  // namespace amfrt
