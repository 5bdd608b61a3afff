#pragma once
#include <condition_variable>
#include <mutex>
#include <thread>

#include "amfrt/frame_conversion.h"

namespace corvantis::amfrt {

// One BGRA picture (or a band of rows of one) to convert into I420 planes, or into NV12 planes
// when `nv12` has a luma plane.
struct ConversionJob {
  const std::uint8_t* Bgra = nullptr;
  int BgraStride = 0;
  int Width = 0;
  int Height = 0;
  I420Planes Out{};
  Nv12Planes Nv12{};

  bool Run() const {
    return Nv12.Y != nullptr ? ConvertBgraToNv12(Bgra, BgraStride, Width, Height, Nv12)
                             : ConvertBgraToI420(Bgra, BgraStride, Width, Height, Out);
  }
};

// A thread that converts one posted job at a time, started with the first job. One caller
// (the poster) at a time.
class ConversionThread {
 public:
  enum class Outcome { Converted, Failed, Withdrawn };

  ConversionThread() = default;
  // Waits for a job in progress, then joins the thread.
  ~ConversionThread();
  ConversionThread(const ConversionThread&) = delete;
  ConversionThread& operator=(const ConversionThread&) = delete;

  // Hands the job to the thread; false, with nothing taken, when a job is still posted or the
  // thread cannot be started.
  bool Post(const ConversionJob& job);
  // Ends the posted job: its outcome once the thread ran it, or Withdrawn (nothing written) when
  // the thread had not started it yet, which on a busy machine is cheaper than waiting for it.
  Outcome Finish();

 private:
  enum class State { Idle, Posted, Taken, Done, Stopping };

  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  State state_ = State::Idle;
  ConversionJob job_;
  bool converted_ = false;
  std::thread thread_;
  bool startFailed_ = false;
};

}  // namespace corvantis::amfrt
