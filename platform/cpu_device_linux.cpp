#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "platform/cpu_device.h"
#include "platform/graphics.h"

namespace corvantis {

namespace {

constexpr std::uint32_t kMaxTextureDimension = 16384;

class CpuTexture final : public RefCounted<ID3D11Texture2D> {
 public:
  CpuTexture(const D3D11_TEXTURE2D_DESC& desc, std::uint8_t* pixels)
      : desc_(desc), pixels_(pixels), pitch_(CpuTextureRowPitch(desc.Width)) {}
  ~CpuTexture() override { std::free(pixels_); }

  void GetDesc(D3D11_TEXTURE2D_DESC* desc) const override { *desc = desc_; }
  std::uint8_t* Pixels() noexcept override { return pixels_; }
  std::uint32_t RowPitch() const noexcept override { return pitch_; }

 private:
  D3D11_TEXTURE2D_DESC desc_;
  std::uint8_t* pixels_;
  std::uint32_t pitch_;
};

bool SameLayout(const D3D11_TEXTURE2D_DESC& a, const D3D11_TEXTURE2D_DESC& b) {
  return a.Width == b.Width && a.Height == b.Height && a.Format == b.Format;
}

class CpuDeviceContext final : public RefCounted<ID3D11DeviceContext> {
 public:
  void CopyResource(ID3D11Texture2D* destination, ID3D11Texture2D* source) override {
    if (destination == nullptr || source == nullptr || destination == source) return;
    D3D11_TEXTURE2D_DESC d, s;
    destination->GetDesc(&d);
    source->GetDesc(&s);
    if (!SameLayout(d, s)) return;
    std::lock_guard lock(mutex_);
    // Same pitch by construction: one copy of the whole block.
    std::memcpy(destination->Pixels(), source->Pixels(),
                static_cast<std::size_t>(source->RowPitch()) * s.Height);
  }

  HRESULT Map(ID3D11Texture2D* texture, std::uint32_t subresource, std::uint32_t mapType,
              std::uint32_t, D3D11_MAPPED_SUBRESOURCE* mapped) override {
    if (texture == nullptr || mapped == nullptr || subresource != 0 || mapType != D3D11_MAP_READ)
      return E_INVALIDARG;
    D3D11_TEXTURE2D_DESC d;
    texture->GetDesc(&d);
    if (d.Usage != D3D11_USAGE_STAGING || (d.CPUAccessFlags & D3D11_CPU_ACCESS_READ) == 0)
      return E_INVALIDARG;
    mapped->pData = texture->Pixels();
    mapped->RowPitch = texture->RowPitch();
    mapped->DepthPitch = texture->RowPitch() * d.Height;
    return S_OK;
  }

  void Unmap(ID3D11Texture2D*, std::uint32_t) override {}

 private:
  std::mutex mutex_;
};

class CpuDevice final : public RefCounted<ID3D11Device> {
 public:
  explicit CpuDevice(std::string renderNode) : renderNode_(std::move(renderNode)) {}

  HRESULT CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const void* initialData,
                          ID3D11Texture2D** texture) override {
    if (desc == nullptr || texture == nullptr) return E_INVALIDARG;
    *texture = nullptr;
    if (desc->Width == 0 || desc->Height == 0 || desc->Width > kMaxTextureDimension ||
        desc->Height > kMaxTextureDimension || desc->Format != DXGI_FORMAT_B8G8R8A8_UNORM ||
        desc->MipLevels > 1 || desc->ArraySize != 1 || desc->SampleDesc.Count != 1)
      return E_INVALIDARG;
    const std::size_t pitch = CpuTextureRowPitch(desc->Width);
    const std::size_t bytes = pitch * desc->Height;
    void* pixels = std::aligned_alloc(kCpuTextureRowAlignment, bytes);
    if (pixels == nullptr) return E_OUTOFMEMORY;
    if (initialData != nullptr) {
      std::memcpy(pixels, initialData, bytes);
    } else {
      std::memset(pixels, 0, bytes);
    }
    D3D11_TEXTURE2D_DESC stored = *desc;
    stored.MipLevels = 1;
    *texture = new (std::nothrow) CpuTexture(stored, static_cast<std::uint8_t*>(pixels));
    if (*texture == nullptr) {
      std::free(pixels);
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  void SetMultithreadProtected(bool) override {}
  const char* RenderNodePath() const noexcept override { return renderNode_.c_str(); }

 private:
  const std::string renderNode_;
};

}  // namespace

HRESULT CreateCpuDevice(ID3D11Device** device, ID3D11DeviceContext** context,
                        const std::string& renderNode) {
  if (device == nullptr || context == nullptr) return E_INVALIDARG;
  *device = nullptr;
  *context = nullptr;
  try {
    *device = new CpuDevice(renderNode);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  *context = new (std::nothrow) CpuDeviceContext();
  if (*device == nullptr || *context == nullptr) {
    if (*device) (*device)->Release();
    if (*context) (*context)->Release();
    *device = nullptr;
    *context = nullptr;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace corvantis
