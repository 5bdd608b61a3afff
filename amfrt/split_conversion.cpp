#include "amfrt/split_conversion.h"

#include <cstddef>

namespace corvantis::amfrt {
namespace {

// Below this many pixels the hand-over costs about what the second thread saves.
constexpr long long kMinSplitPixels = 1280LL * 720;

bool HasPlanes(const ConversionJob& job) {
  return job.nv12.y != nullptr ? job.nv12.uv != nullptr
                               : job.out.y != nullptr && job.out.u != nullptr && job.out.v != nullptr;
}

// `rows` rows of `whole` from `firstRow` on, which is even, so that the part has chroma rows of
// its own.
ConversionJob Rows(const ConversionJob& whole, int firstRow, int rows) {
  const auto luma = static_cast<std::ptrdiff_t>(firstRow);
  const auto chroma = static_cast<std::ptrdiff_t>(firstRow / 2);
  ConversionJob part = whole;
  part.bgra = whole.bgra + luma * whole.bgraStride;
  part.height = rows;
  if (whole.nv12.y != nullptr) {
    part.nv12.y = whole.nv12.y + luma * whole.nv12.yStride;
    part.nv12.uv = whole.nv12.uv + chroma * whole.nv12.uvStride;
  } else {
    part.out.y = whole.out.y + luma * whole.out.yStride;
    part.out.u = whole.out.u + chroma * whole.out.uStride;
    part.out.v = whole.out.v + chroma * whole.out.vStride;
  }
  return part;
}

}  // namespace

bool SplitConverter::Convert(const std::uint8_t* bgra, int bgraStride, int width, int height,
                             const I420Planes& out) {
  return Convert(ConversionJob{bgra, bgraStride, width, height, out, {}});
}

bool SplitConverter::Convert(const std::uint8_t* bgra, int bgraStride, int width, int height,
                             const Nv12Planes& out) {
  return Convert(ConversionJob{bgra, bgraStride, width, height, {}, out});
}

bool SplitConverter::Convert(const ConversionJob& whole) {
  const int upperRows = whole.height / 4 * 2;
  if (static_cast<long long>(whole.width) * whole.height < kMinSplitPixels || upperRows == 0 ||
      whole.bgra == nullptr || !HasPlanes(whole))
    return whole.Run();

  const ConversionJob upper = Rows(whole, 0, upperRows);
  const ConversionJob lower = Rows(whole, upperRows, whole.height - upperRows);
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

}  // namespace corvantis::amfrt
