#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "amfrt/frame_conversion.h"

namespace amfrt {

// ConvertBgraToI420 with the lower half of a large picture on a helper thread, so that the
// conversion, which waits on memory more than on arithmetic, takes about half as long where a
// second core is free. The bytes are those of one ConvertBgraToI420 call. One caller at a time.
class SplitI420Converter {
 public:
  SplitI420Converter() = default;
  // Joins the helper thread.
  ~SplitI420Converter();
  SplitI420Converter(const SplitI420Converter&) = delete;
  SplitI420Converter& operator=(const SplitI420Converter&) = delete;

  // As ConvertBgraToI420. Small pictures, and any picture when the helper thread cannot be
  // started, are converted on the calling thread alone.
  bool Convert(const std::uint8_t* bgra, int bgraStride, int width, int height, const I420Planes& out);

 private:
  enum class State { Idle, Posted, Taken, Done, Stopping };
  struct Part {
    const std::uint8_t* bgra = nullptr;
    int bgraStride = 0;
    int width = 0;
    int height = 0;
    I420Planes out{};
  };

  bool StartHelper();
  void Run();
  static bool ConvertPart(const Part& part);

  std::mutex mutex_;
  std::condition_variable wake_;
  State state_ = State::Idle;
  Part lower_;
  bool lowerResult_ = false;
  std::thread helper_;
  bool helperFailed_ = false;
};

}  // namespace amfrt
