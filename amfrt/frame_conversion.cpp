#include "amfrt/frame_conversion.h"

#include <libyuv/convert_from_argb.h>

namespace corvantis::amfrt {
namespace {

// libyuv takes a negative height to mean "bottom-up" and a stride it is not told to check; both
// are settled here so that a bad argument cannot turn into a read outside the picture.
bool Valid(const std::uint8_t* bgra, int bgraStride, int width, int height) {
  return bgra != nullptr && width > 0 && height > 0 && width <= (1 << 28) / 4 &&
         bgraStride >= 4 * width;
}

int ChromaWidth(int width) { return (width + 1) / 2; }

}  // namespace

bool ConvertBgraToI420(const std::uint8_t* bgra, int bgraStride, int width, int height,
                       const I420Planes& out) {
  if (!Valid(bgra, bgraStride, width, height) || out.Y == nullptr || out.U == nullptr ||
      out.V == nullptr || out.YStride < width || out.UStride < ChromaWidth(width) ||
      out.VStride < ChromaWidth(width))
    return false;
  // libyuv's "ARGB" is a little-endian word: B, G, R, A in memory, the texture's layout.
  return libyuv::ARGBToI420(bgra, bgraStride, out.Y, out.YStride, out.U, out.UStride, out.V,
                            out.VStride, width, height) == 0;
}

bool ConvertBgraToNv12(const std::uint8_t* bgra, int bgraStride, int width, int height,
                       const Nv12Planes& out) {
  if (!Valid(bgra, bgraStride, width, height) || out.Y == nullptr || out.Uv == nullptr ||
      out.YStride < width || out.UvStride < 2 * ChromaWidth(width))
    return false;
  return libyuv::ARGBToNV12(bgra, bgraStride, out.Y, out.YStride, out.Uv, out.UvStride, width,
                            height) == 0;
}

}  // namespace corvantis::amfrt
