#include "platform/drawing/cairo_drawing.h"
#include "platform/graphics.h"

namespace corvantis {

namespace {

class LinuxGraphicsApi final : public GraphicsApi {
 public:
  HRESULT CreateDXGIFactory2(std::uint32_t, IDXGIFactory1** factory) override {
    return CreateLinuxAdapterFactory(AdapterSources{}, factory);
  }
  // Every adapter gets the CPU device: frames are drawn in memory and the encoder runtime reads
  // them from there. A hardware adapter's device carries its render node, where the runtime
  // encodes.
  HRESULT D3D11CreateDevice(IDXGIAdapter1* adapter, std::uint32_t, ID3D11Device** device,
                            ID3D11DeviceContext** context) override {
    if (adapter == nullptr) return E_INVALIDARG;
    return CreateCpuDevice(device, context, adapter->RenderNodePath());
  }
  HRESULT D2D1CreateFactory(ID2D1Factory1** factory) override {
    return CreateCairoD2DFactory(factory);
  }
  HRESULT DWriteCreateFactory(IDWriteFactory** factory) override {
    return CreateFontconfigDWriteFactory(factory);
  }
  HRESULT CreateWicImagingFactory(IWICImagingFactory** factory) override {
    return CreatePngImagingFactory(factory);
  }
};

}  // namespace

GraphicsApi& LinuxGraphics() {
  static LinuxGraphicsApi api;
  return api;
}

}  // namespace corvantis
