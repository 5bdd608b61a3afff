#include "amfrt/split_conversion.h"

namespace amfrt {
namespace {

// Below this many pixels the hand-over costs about what the second thread saves.
constexpr long long kMinSplitPixels = 1280LL * 720;

}  // namespace

bool SplitI420Converter::Convert(const std::uint8_t* bgra, int bgraStride, int width, int height,
                                 const I420Planes& out) {
  const ConversionJob whole{bgra, bgraStride, width, height, out};
  // An even number of upper rows, so that each half has chroma rows of its own.
  const int upperRows = height / 4 * 2;
  if (static_cast<long long>(width) * height < kMinSplitPixels || upperRows == 0 || bgra == nullptr ||
      out.y == nullptr || out.u == nullptr || out.v == nullptr)
    return whole.Run();

  const int chromaRows = upperRows / 2;
  const ConversionJob upper{bgra, bgraStride, width, upperRows, out};
  const ConversionJob lower{bgra + static_cast<std::ptrdiff_t>(upperRows) * bgraStride, bgraStride, width,
                            height - upperRows,
                            I420Planes{out.y + static_cast<std::ptrdiff_t>(upperRows) * out.yStride, out.yStride,
                                       out.u + static_cast<std::ptrdiff_t>(chromaRows) * out.uStride, out.uStride,
                                       out.v + static_cast<std::ptrdiff_t>(chromaRows) * out.vStride, out.vStride}};
  if (!helper_.Post(lower)) return whole.Run();
  const bool upperResult = upper.Run();
  switch (helper_.Finish()) {
    case ConversionThread::Outcome::Converted: return upperResult;
    case ConversionThread::Outcome::Failed: return false;
    case ConversionThread::Outcome::Withdrawn:
      // The helper has not started yet (a busy machine): waiting for it would cost more than the
      // lower half itself.
      return lower.Run() && upperResult;
  }
  return false;
}

}  // namespace amfrt
