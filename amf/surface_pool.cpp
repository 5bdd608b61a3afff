#include "amf/surface_pool.h"

#include "amf/amf_result.h"
#include "platform/hresult_error.h"

namespace corvantis {

void BuildSurfacePool(ID3D11Device* device, amf::AMFContext* context,
                      const D3D11_TEXTURE2D_DESC& frameDescription, SurfacePool& pool) {
  D3D11_TEXTURE2D_DESC desc;
  desc.Width = frameDescription.Width;
  desc.Height = frameDescription.Height;
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = frameDescription.Format;
  desc.SampleDesc = {1, 0};
  desc.Usage = D3D11_USAGE_DEFAULT;
  desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
  desc.CPUAccessFlags = 0;
  desc.MiscFlags = 0;

  pool.Slots.reserve(kSurfacePoolSize);
  for (std::uint32_t i = 0; i < kSurfacePoolSize; ++i) {
    SurfaceSlot& slot = pool.Slots.emplace_back();
    check_hresult(device->CreateTexture2D(&desc, nullptr, slot.Texture.put()));
    CheckAmfResult(
        context->CreateSurfaceFromDX11Native(slot.Texture.get(), &slot.Surface, nullptr));
  }
}

}  // namespace corvantis
