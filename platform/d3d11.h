#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/com_ptr.h"
#include "platform/hresult.h"
#include "platform/va_display.h"

namespace corvantis {

// The adapter, device and texture interfaces the program and the encoder runtime share. Textures
// live in CPU memory as BGRA rows, except a hardware device's textures that only the encoder
// reads: those are VA surfaces of the device's display, which the runtime hands on as they are.

enum DXGI_FORMAT : std::uint32_t {
  DXGI_FORMAT_UNKNOWN = 0,
  DXGI_FORMAT_B8G8R8A8_UNORM = 87,
};

struct DXGI_SAMPLE_DESC {
  std::uint32_t Count = 1;
  std::uint32_t Quality = 0;
};

inline constexpr std::uint32_t D3D11_USAGE_DEFAULT = 0;
inline constexpr std::uint32_t D3D11_USAGE_STAGING = 3;
inline constexpr std::uint32_t D3D11_BIND_SHADER_RESOURCE = 0x8;
inline constexpr std::uint32_t D3D11_BIND_RENDER_TARGET = 0x20;
inline constexpr std::uint32_t D3D11_CPU_ACCESS_READ = 0x20000;
inline constexpr std::uint32_t D3D11_MAP_READ = 1;
inline constexpr std::uint32_t D3D11_CREATE_DEVICE_BGRA_SUPPORT = 0x20;
inline constexpr std::uint32_t D3D11_SDK_VERSION = 7;

struct D3D11_TEXTURE2D_DESC {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  std::uint32_t MipLevels = 0;
  std::uint32_t ArraySize = 0;
  DXGI_FORMAT Format = DXGI_FORMAT_UNKNOWN;
  DXGI_SAMPLE_DESC SampleDesc;
  std::uint32_t Usage = D3D11_USAGE_DEFAULT;
  std::uint32_t BindFlags = 0;
  std::uint32_t CPUAccessFlags = 0;
  std::uint32_t MiscFlags = 0;
};

struct D3D11_MAPPED_SUBRESOURCE {
  void* pData = nullptr;
  std::uint32_t RowPitch = 0;
  std::uint32_t DepthPitch = 0;
};

struct ID3D11Texture2D : IUnknownLite {
  virtual void GetDesc(D3D11_TEXTURE2D_DESC* desc) const = 0;
  // First byte of row 0; rows are RowPitch() bytes apart, 4 bytes a pixel, blue first. Null for
  // a texture that is a VA surface.
  virtual std::uint8_t* Pixels() noexcept = 0;
  virtual std::uint32_t RowPitch() const noexcept = 0;
  // The VA surface of the device's display that holds the pixels; VA_INVALID_SURFACE for a
  // texture in CPU memory.
  virtual VASurfaceID VideoSurface() const noexcept = 0;
};

struct ID3D11DeviceContext : IUnknownLite {
  // Copies all pixels; both textures must have the same size and format (else nothing happens).
  // Into a VA surface the pixels are written before the call returns; two VA surfaces are not
  // copied.
  virtual void CopyResource(ID3D11Texture2D* destination, ID3D11Texture2D* source) = 0;
  // Only staging textures with CPU read access can be mapped.
  virtual HRESULT Map(ID3D11Texture2D* texture, std::uint32_t subresource, std::uint32_t mapType,
                      std::uint32_t mapFlags, D3D11_MAPPED_SUBRESOURCE* mapped) = 0;
  virtual void Unmap(ID3D11Texture2D* texture, std::uint32_t subresource) = 0;
};

struct ID3D11Device : IUnknownLite {
  // E_INVALIDARG for a size of 0, above 16384, a format other than BGRA, or mip/array counts
  // other than 1; E_OUTOFMEMORY when the pixels cannot be allocated.
  virtual HRESULT CreateTexture2D(const D3D11_TEXTURE2D_DESC* desc, const void* initialData,
                                  ID3D11Texture2D** texture) = 0;
  virtual void SetMultithreadProtected(bool protect) = 0;
  // The DRM render node of the adapter the device was made on ("/dev/dri/renderD128"); empty for
  // the software adapter. The encoder runtime encodes on that node.
  virtual const char* RenderNodePath() const noexcept = 0;
  // The VA display of RenderNodePath(), opened at the first call and closed once the device and
  // its textures are gone; libva's messages go to `route` from this call on. Null, with why in
  // *error, for the software adapter's device or a node that has no VA driver.
  virtual VaDisplay* VideoDisplay(const VaDisplay::MessageRoute& route, std::string* error) = 0;
};

struct LUID {
  std::uint32_t LowPart = 0;
  std::int32_t HighPart = 0;
};

struct DXGI_ADAPTER_DESC1 {
  wchar_t Description[128] = {};
  std::uint32_t VendorId = 0;
  std::uint32_t DeviceId = 0;
  std::uint32_t SubSysId = 0;
  std::uint32_t Revision = 0;
  std::size_t DedicatedVideoMemory = 0;
  std::size_t DedicatedSystemMemory = 0;
  std::size_t SharedSystemMemory = 0;
  LUID AdapterLuid;
  std::uint32_t Flags = 0;
};

inline constexpr std::uint32_t DXGI_ADAPTER_FLAG_SOFTWARE = 2;

struct IDXGIAdapter1 : IUnknownLite {
  virtual HRESULT GetDesc1(DXGI_ADAPTER_DESC1* desc) = 0;
  // The adapter's DRM render node; empty for the software adapter.
  virtual const char* RenderNodePath() const noexcept = 0;
};

struct IDXGIFactory1 : IUnknownLite {
  // DXGI_ERROR_NOT_FOUND past the last adapter.
  virtual HRESULT EnumAdapters1(std::uint32_t index, IDXGIAdapter1** adapter) = 0;
};

}  // namespace corvantis
