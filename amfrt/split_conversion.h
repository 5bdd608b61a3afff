#pragma once
#include <cstdint>

#include "amfrt/conversion_thread.h"
#include "amfrt/frame_conversion.h"

namespace corvantis::amfrt {

// ConvertBgraToI420 or ConvertBgraToNv12 with the lower half of a large picture on a helper
// thread, so that the conversion, which waits on memory more than on arithmetic, takes about half
// as long where a second core is free. The bytes are those of one conversion call. One caller at
// a time.
class SplitConverter {
 public:
  // As ConvertBgraToI420 / ConvertBgraToNv12. Small pictures, and any picture when the helper
  // thread cannot be started, are converted on the calling thread alone.
  bool Convert(const std::uint8_t* bgra, int bgraStride, int width, int height,
               const I420Planes& out);
  bool Convert(const std::uint8_t* bgra, int bgraStride, int width, int height,
               const Nv12Planes& out);

 private:
  bool Convert(const ConversionJob& whole);

  ConversionThread helper_;
};

}  // namespace corvantis::amfrt
