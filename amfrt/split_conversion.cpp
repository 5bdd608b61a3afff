#include "amfrt/split_conversion.h"

#include <cstddef>

namespace corvantis::amfrt {
namespace {

// Below this many pixels the hand-over costs about what the second thread saves.
constexpr long long kMinSplitPixels = 1280LL * 720;

bool HasPlanes(const ConversionJob& job) {
  return job.Nv12.Y != nullptr
             ? job.Nv12.Uv != nullptr
             : job.Out.Y != nullptr && job.Out.U != nullptr && job.Out.V != nullptr;
}

// `rows` rows of `whole` from `firstRow` on, which is even, so that the part has chroma rows of
// its own.
ConversionJob Rows(const ConversionJob& whole, int firstRow, int rows) {
  const auto luma = static_cast<std::ptrdiff_t>(firstRow);
  const auto chroma = static_cast<std::ptrdiff_t>(firstRow / 2);
  ConversionJob part = whole;
  part.Bgra = whole.Bgra + luma * whole.BgraStride;
  part.Height = rows;
  if (whole.Nv12.Y != nullptr) {
    part.Nv12.Y = whole.Nv12.Y + luma * whole.Nv12.YStride;
    part.Nv12.Uv = whole.Nv12.Uv + chroma * whole.Nv12.UvStride;
  } else {
    part.Out.Y = whole.Out.Y + luma * whole.Out.YStride;
    part.Out.U = whole.Out.U + chroma * whole.Out.UStride;
    part.Out.V = whole.Out.V + chroma * whole.Out.VStride;
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
  const int upperRows = whole.Height / 4 * 2;
  if (static_cast<long long>(whole.Width) * whole.Height < kMinSplitPixels || upperRows == 0 ||
      whole.Bgra == nullptr || !HasPlanes(whole))
    return whole.Run();

  const ConversionJob upper = Rows(whole, 0, upperRows);
  const ConversionJob lower = Rows(whole, upperRows, whole.Height - upperRows);
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
