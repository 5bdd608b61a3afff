#pragma once
#include <cstdint>
#include <vector>

#include "amf/api/interfaces.h"
#include "platform/com_ptr.h"
#include "platform/d3d11.h"

namespace corvantis {

inline constexpr std::uint32_t kSurfacePoolSize = 32;

// One texture with the encoder surface made from it. The surface is released before the texture.
struct SurfaceSlot {
  com_ptr<ID3D11Texture2D> Texture;
  amf::AMFSurfacePtr Surface;
  std::uint32_t SubmitTime = 0;    // ms when the frame now in this slot was last submitted
  std::uint64_t SubmitTimeNs = 0;  // the same moment at the clock's resolution
};

struct SurfacePool {
  std::vector<SurfaceSlot> Slots;
};

// 32 slots of `frameDescription`'s size and format (shader-resource textures, no CPU access),
// each wrapped as an encoder surface by `context`. Raises on the first failure.
void BuildSurfacePool(ID3D11Device* device, amf::AMFContext* context,
                      const D3D11_TEXTURE2D_DESC& frameDescription, SurfacePool& pool);

}  // namespace corvantis
