#pragma once
#include "platform/d3d11.h"

namespace corvantis {

// Pixels of a CPU texture are kept 64-byte aligned with rows padded to 64 bytes, so that copies
// and the encoder's colour conversion run on whole vectors.
inline constexpr std::uint32_t kCpuTextureRowAlignment = 64;

// Row pitch of a BGRA texture of `width` pixels.
constexpr std::uint32_t CpuTextureRowPitch(std::uint32_t width) {
  return (width * 4 + kCpuTextureRowAlignment - 1) / kCpuTextureRowAlignment *
         kCpuTextureRowAlignment;
}

}  // namespace corvantis
