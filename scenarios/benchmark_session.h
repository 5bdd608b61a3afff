#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/com_ptr.h"
#include "platform/d2d.h"
#include "platform/d3d11.h"
#include "platform/wic.h"

namespace corvantis {

// Choices beyond the classic command line; all off by default.
struct SessionOptions {
  bool UseSoftwareAdapter = false;            // "-Adapter:Software"
  std::optional<std::wstring> AdapterChoice;  // "-Adapter:<index, render node or PCI address>"
  std::int64_t AdapterIndex = -1;  // the enumeration index it names; -1: the first AMD adapter
  std::uint32_t ClipSeconds = 0;   // "-Seconds:N"; 0 keeps each clip's own duration
  bool WriteReport = false;        // "-Report[:path]"
  std::wstring ReportPath;         // empty: the default name beside the streams
};

// The record of one benchmark run. Members are destroyed in reverse order: ResultsText first,
// UserEmail last (Options carries no resources).
struct BenchmarkSession {
  SessionOptions Options;
  std::wstring UserEmail;
  com_ptr<IDXGIFactory1> DxgiFactory;
  com_ptr<IDXGIAdapter1> Adapter;
  DXGI_ADAPTER_DESC1 AdapterDescription;
  com_ptr<ID3D11Device> Device;
  com_ptr<ID3D11DeviceContext> DeviceContext;
  D3D11_TEXTURE2D_DESC TextureDescription = InitialTextureDescription();
  com_ptr<ID3D11Texture2D> FrameTexture;
  com_ptr<ID2D1Factory1> D2DFactory;
  com_ptr<ID2D1RenderTarget> RenderTarget;
  com_ptr<ID2D1SolidColorBrush> BlackBrush;
  com_ptr<ID2D1SolidColorBrush> KhakiBrush;
  com_ptr<ID2D1SolidColorBrush> TomatoBrush;
  com_ptr<IDWriteFactory> DWriteFactory;
  com_ptr<IDWriteTextFormat> TextFormat;
  com_ptr<IWICImagingFactory> WicFactory;
  std::wstring ResultsText;

  // 1920x1080 BGRA, MipLevels 0 until the device exists.
  static D3D11_TEXTURE2D_DESC InitialTextureDescription() {
    D3D11_TEXTURE2D_DESC d;
    d.Width = 1920;
    d.Height = 1080;
    d.MipLevels = 0;
    d.ArraySize = 1;
    d.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    d.SampleDesc = {1, 0};
    d.Usage = D3D11_USAGE_DEFAULT;
    d.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    d.CPUAccessFlags = 0;
    d.MiscFlags = 0;
    return d;
  }
};

}  // namespace corvantis
