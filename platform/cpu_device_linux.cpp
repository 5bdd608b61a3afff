#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>

#include "platform/cpu_device.h"
#include "platform/graphics.h"
#include "platform/va_probe.h"
#include "platform/va_surface.h"

namespace corvantis {

namespace {

constexpr std::uint32_t kMaxTextureDimension = 16384;

// The display of a hardware device, shared with the textures that are its surfaces so that it
// closes only after the last of them.
struct DeviceVideo {
  explicit DeviceVideo(std::unique_ptr<VaDisplay> display)
      : Display(std::move(display)),
        TakesBgra(VideoProcessingFromBgra(Display->Handle())),
        Copier(Display->Handle()) {}

  const std::unique_ptr<VaDisplay> Display;  // first in, last out
  // Whether the encoder converts BGRA surfaces on the GPU; else it reads CPU memory best.
  const bool TakesBgra;
  std::mutex CopyMutex;
  VaSurfaceCopier Copier;  // under CopyMutex
};

class CpuTexture final : public RefCounted<ID3D11Texture2D> {
 public:
  CpuTexture(const D3D11_TEXTURE2D_DESC& desc, std::uint8_t* pixels)
      : desc_(desc), pixels_(pixels), pitch_(CpuTextureRowPitch(desc.Width)) {}
  ~CpuTexture() override { std::free(pixels_); }

  void GetDesc(D3D11_TEXTURE2D_DESC* desc) const override { *desc = desc_; }
  std::uint8_t* Pixels() noexcept override { return pixels_; }
  std::uint32_t RowPitch() const noexcept override { return pitch_; }
  VASurfaceID VideoSurface() const noexcept override { return VA_INVALID_SURFACE; }

 private:
  D3D11_TEXTURE2D_DESC desc_;
  std::uint8_t* pixels_;
  std::uint32_t pitch_;
};

// A texture whose pixels are a BGRA surface of the device's display and nowhere else.
class VideoTexture final : public RefCounted<ID3D11Texture2D> {
 public:
  VideoTexture(const D3D11_TEXTURE2D_DESC& desc, std::shared_ptr<DeviceVideo> video,
               VASurfaceID surface)
      : desc_(desc), video_(std::move(video)), surface_(surface) {}
  ~VideoTexture() override { vaDestroySurfaces(video_->Display->Handle(), &surface_, 1); }

  void GetDesc(D3D11_TEXTURE2D_DESC* desc) const override { *desc = desc_; }
  std::uint8_t* Pixels() noexcept override { return nullptr; }
  std::uint32_t RowPitch() const noexcept override { return 0; }
  VASurfaceID VideoSurface() const noexcept override { return surface_; }

  // The surface's pixels from / to CPU rows `pitch` bytes apart.
  void Write(const std::uint8_t* pixels, std::uint32_t pitch) {
    std::lock_guard lock(video_->CopyMutex);
    video_->Copier.Write(surface_, static_cast<int>(desc_.Width), static_cast<int>(desc_.Height),
                         pixels, static_cast<int>(pitch));
  }
  void Read(std::uint8_t* pixels, std::uint32_t pitch) {
    std::lock_guard lock(video_->CopyMutex);
    video_->Copier.Read(surface_, static_cast<int>(desc_.Width), static_cast<int>(desc_.Height),
                        pixels, static_cast<int>(pitch));
  }

 private:
  D3D11_TEXTURE2D_DESC desc_;
  const std::shared_ptr<DeviceVideo> video_;
  VASurfaceID surface_;
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
    auto* videoDestination = dynamic_cast<VideoTexture*>(destination);
    auto* videoSource = dynamic_cast<VideoTexture*>(source);
    if (videoDestination != nullptr && videoSource == nullptr && source->Pixels() != nullptr) {
      videoDestination->Write(source->Pixels(), source->RowPitch());
    } else if (videoSource != nullptr && videoDestination == nullptr &&
               destination->Pixels() != nullptr) {
      videoSource->Read(destination->Pixels(), destination->RowPitch());
    } else if (videoSource == nullptr && videoDestination == nullptr) {
      std::lock_guard lock(mutex_);
      // Same pitch by construction: one copy of the whole block.
      std::memcpy(destination->Pixels(), source->Pixels(),
                  static_cast<std::size_t>(source->RowPitch()) * s.Height);
    }
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
    if (OnlyTheEncoderReads(*desc) && initialData == nullptr)
      if (ID3D11Texture2D* video = NewVideoTexture(*desc)) {
        *texture = video;
        return S_OK;
      }
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

  VaDisplay* VideoDisplay(const VaDisplay::MessageRoute& route, std::string* error) override {
    std::lock_guard lock(mutex_);
    if (!OpenVideo(route, error)) return nullptr;
    video_->Display->RouteMessages(route);
    return video_->Display.get();
  }

 private:
  // A pool slot: drawn into by copies alone, read by the encoder and the staging copy.
  static bool OnlyTheEncoderReads(const D3D11_TEXTURE2D_DESC& desc) {
    return desc.Usage == D3D11_USAGE_DEFAULT && (desc.BindFlags & D3D11_BIND_RENDER_TARGET) == 0 &&
           desc.CPUAccessFlags == 0;
  }

  bool OpenVideo(const VaDisplay::MessageRoute& route, std::string* error) {
    if (video_) return true;
    if (renderNode_.empty()) {
      *error = "the software adapter has no render node";
      return false;
    }
    std::unique_ptr<VaDisplay> display = VaDisplay::Open(renderNode_, route, error);
    if (!display) return false;
    video_ = std::make_shared<DeviceVideo>(std::move(display));
    return true;
  }

  // A texture in a VA surface where the display's video processor takes it; else null, and the
  // texture is made in CPU memory, where the encoder's CPU conversion reads it fastest.
  ID3D11Texture2D* NewVideoTexture(const D3D11_TEXTURE2D_DESC& desc) {
    std::shared_ptr<DeviceVideo> video;
    {
      std::lock_guard lock(mutex_);
      std::string unused;
      if (renderNode_.empty() || !OpenVideo({}, &unused) || !video_->TakesBgra) return nullptr;
      video = video_;
    }
    VASurfaceID surface = VA_INVALID_SURFACE;
    if (CreateBgraSurface(video->Display->Handle(), static_cast<int>(desc.Width),
                          static_cast<int>(desc.Height), &surface) != VA_STATUS_SUCCESS)
      return nullptr;
    D3D11_TEXTURE2D_DESC stored = desc;
    stored.MipLevels = 1;
    auto* texture = new (std::nothrow) VideoTexture(stored, video, surface);
    if (texture == nullptr) vaDestroySurfaces(video->Display->Handle(), &surface, 1);
    return texture;
  }

  const std::string renderNode_;
  std::mutex mutex_;
  std::shared_ptr<DeviceVideo> video_;
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
