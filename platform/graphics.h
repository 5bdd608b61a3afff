#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
  std::string ModuleDir = "/sys/module";   // kernel modules' versions
};

// What sysfs tells a normal user of one render node's device; empty text where the kernel
// exposes nothing (no PCI slot, a built-in module without a version, no VBIOS file).
struct RenderNodeFacts {
  std::string Node;  // e.g. "/dev/dri/renderD128"
  std::string PciAddress;
  std::string Name;  // as the adapter's description
  std::uint32_t VendorId = 0;
  std::string KernelDriver;   // "amdgpu", "i915"
  std::string ModuleVersion;  // the module's version, else its srcversion
  std::string VbiosVersion;   // device/vbios_version (amdgpu)
  // device/fw_version/* (amdgpu: "vcn_fw_version", ...), each as the kernel prints it.
  std::vector<std::pair<std::string, std::string>> Firmware;
};

// The render nodes of `sources` in the order the adapter factory enumerates them (the software
// adapter, last there, is not among them).
std::vector<RenderNodeFacts> ListRenderNodes(const AdapterSources& sources);

// A DXGI-style factory over the render nodes of `sources`, with the software adapter last.
HRESULT CreateLinuxAdapterFactory(const AdapterSources& sources, IDXGIFactory1** factory);

// The CPU device and its immediate context; the device carries `renderNode` (empty: the
// software adapter's device).
HRESULT CreateCpuDevice(ID3D11Device** device, ID3D11DeviceContext** context,
                        const std::string& renderNode = {});

// Description of the software adapter (vendor 0), shown where an adapter name is shown.
extern const wchar_t kSoftwareAdapterDescription[];

}  // namespace corvantis
