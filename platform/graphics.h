#pragma once
#include <cstdint>
#include <string>

#include "platform/d2d.h"
#include "platform/d3d11.h"
#include "platform/wic.h"

namespace corvantis {

// Creation of the graphics objects a benchmark session holds. Each call may fail with an HRESULT.
class GraphicsApi {
 public:
  virtual ~GraphicsApi() = default;
  virtual HRESULT CreateDXGIFactory2(std::uint32_t flags, IDXGIFactory1** factory) = 0;
  virtual HRESULT D3D11CreateDevice(IDXGIAdapter1* adapter, std::uint32_t flags,
                                    ID3D11Device** device, ID3D11DeviceContext** context) = 0;
  virtual HRESULT D2D1CreateFactory(ID2D1Factory1** factory) = 0;
  virtual HRESULT DWriteCreateFactory(IDWriteFactory** factory) = 0;
  virtual HRESULT CreateWicImagingFactory(IWICImagingFactory** factory) = 0;
};

// Where adapter enumeration looks; tests point it at a fake sysfs tree.
struct AdapterSources {
  std::string DrmClassDir = "/sys/class/drm";
  std::string PciIdsPath;                  // empty: the usual pci.ids locations
  std::string RenderNodeDir = "/dev/dri";  // where a node of drmClassDir is opened
};

// A DXGI-style factory over the render nodes of `sources`, with the software adapter last.
HRESULT CreateLinuxAdapterFactory(const AdapterSources& sources, IDXGIFactory1** factory);

// The CPU device and its immediate context; the device carries `renderNode` (empty: the
// software adapter's device).
HRESULT CreateCpuDevice(ID3D11Device** device, ID3D11DeviceContext** context,
                        const std::string& renderNode = {});

// Description of the software adapter (vendor 0), shown where an adapter name is shown.
extern const wchar_t kSoftwareAdapterDescription[];

}  // namespace corvantis
