#pragma once
#include <cstdint>

namespace corvantis::amfrt {

// Planes of a YUV 4:2:0 picture: full-size luma, chroma of (width + 1) / 2 x (height + 1) / 2.
struct I420Planes {
  std::uint8_t* Y;
  int YStride;
  std::uint8_t* U;
  int UStride;
  std::uint8_t* V;
  int VStride;
};

// Luma, then one plane of interleaved U and V samples (U first), each chroma row
// (width + 1) / 2 pairs long.
struct Nv12Planes {
  std::uint8_t* Y;
  int YStride;
  std::uint8_t* Uv;
  int UvStride;
};

// BGRA pictures (4 bytes a pixel, blue first, alpha ignored) to BT.601 limited-range YUV 4:2:0.
// Each chroma sample is the mean of its 2x2 block (of the pixels there are, at an odd edge).
// Any size of at least 1x1 is converted; rows are read and written only within width and the
// strides given. False, with nothing written, for a null plane, an empty size or a stride
// shorter than a row.
bool ConvertBgraToI420(const std::uint8_t* bgra, int bgraStride, int width, int height,
                       const I420Planes& out);
bool ConvertBgraToNv12(const std::uint8_t* bgra, int bgraStride, int width, int height,
                       const Nv12Planes& out);

}  // namespace corvantis::amfrt
