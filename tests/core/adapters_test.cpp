#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/drawing/cairo_drawing.h"
#include "platform/graphics.h"
#include "tests/fakes/files.h"

namespace corvantis {

namespace {

namespace fs = std::filesystem;

class AdapterEnumerationTest : public ::testing::Test {
 protected:
  AdapterEnumerationTest() {
    fs::create_directories(root_ / "drm");
    Write(root_ / "pci.ids",
          "# comment\n"
          "1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
          "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]\n"
          "\t\t1002 0e3a  Radeon RX 6900 XT\n"
          "\t744c  Navi 31 [Radeon RX 7900 XT/7900 XTX]\n"
          "8086  Intel Corporation\n"
          "\t9a49  TigerLake-LP GT2 [Iris Xe Graphics]\n");
    sources_.DrmClassDir = (root_ / "drm").string();
    sources_.PciIdsPath = (root_ / "pci.ids").string();
  }

  static void Write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  void AddNode(const std::string& name, const char* vendor, const char* device,
               const char* subVendor, const char* subDevice, const char* revision) {
    const fs::path dev = root_ / "drm" / name / "device";
    Write(dev / "vendor", vendor);
    Write(dev / "device", device);
    if (subVendor) Write(dev / "subsystem_vendor", subVendor);
    if (subDevice) Write(dev / "subsystem_device", subDevice);
    if (revision) Write(dev / "revision", revision);
  }
  std::vector<DXGI_ADAPTER_DESC1> Enumerate() {
    com_ptr<IDXGIFactory1> factory;
    EXPECT_EQ(CreateLinuxAdapterFactory(sources_, factory.put()), S_OK);
    std::vector<DXGI_ADAPTER_DESC1> out;
    for (std::uint32_t i = 0;; ++i) {
      com_ptr<IDXGIAdapter1> adapter;
      const HRESULT hr = factory->EnumAdapters1(i, adapter.put());
      if (hr == DXGI_ERROR_NOT_FOUND) break;
      EXPECT_EQ(hr, S_OK);
      DXGI_ADAPTER_DESC1 d;
      adapter->GetDesc1(&d);
      out.push_back(d);
    }
    return out;
  }

  const TempDir temp_;
  const fs::path root_ = temp_.path();
  AdapterSources sources_;
};

TEST_F(AdapterEnumerationTest, RenderNodesInOrderThenTheSoftwareAdapter) {
  AddNode("renderD129", "0x1002\n", "0x73bf\n", "0x1002\n", "0x0e3a\n", "0xc0\n");
  AddNode("renderD128", "0x8086\n", "0x9a49\n", "0x8086\n", "0x3024\n", "0x01\n");
  AddNode("card0", "0x1002\n", "0x744c\n", nullptr, nullptr, nullptr);  // not a render node
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[0].VendorId, 0x8086u);
  EXPECT_EQ(std::wstring(adapters[0].Description), L"TigerLake-LP GT2 [Iris Xe Graphics]");
  EXPECT_EQ(adapters[1].VendorId, 0x1002u);
  EXPECT_EQ(adapters[1].DeviceId, 0x73BFu);
  EXPECT_EQ(adapters[1].SubSysId, 0x0E3A1002u);
  EXPECT_EQ(adapters[1].Revision, 0xC0u);
  EXPECT_EQ(std::wstring(adapters[1].Description), L"Radeon RX 6900 XT");
  EXPECT_EQ(adapters[2].VendorId, 0u);
  EXPECT_NE(adapters[2].Flags & DXGI_ADAPTER_FLAG_SOFTWARE, 0u);
  EXPECT_EQ(std::wstring(adapters[2].Description), kSoftwareAdapterDescription);
}

TEST_F(AdapterEnumerationTest, UnknownDevicesMissingFilesAndNoDrmFolder) {
  AddNode("renderD128", "0x1002\n", "0x744c\n", nullptr, nullptr, nullptr);
  AddNode("renderD130", "0x1234\n", "0xabcd\n", "0x0\n", "0x0\n", "0x0\n");
  AddNode("renderD131", "garbage", "0x1\n", nullptr, nullptr, nullptr);
  const auto adapters = Enumerate();
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(std::wstring(adapters[0].Description), L"Navi 31 [Radeon RX 7900 XT/7900 XTX]");
  EXPECT_EQ(adapters[0].SubSysId, 0u);
  EXPECT_EQ(std::wstring(adapters[1].Description), L"PCI device 1234:abcd");

  // Without the folder or the list, the software adapter alone.
  sources_.DrmClassDir = (root_ / "missing").string();
  sources_.PciIdsPath = (root_ / "missing.ids").string();
  const auto none = Enumerate();
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].VendorId, 0u);
}

TEST_F(AdapterEnumerationTest, AHardwareAdaptersDeviceCarriesItsRenderNodeTheSoftwareOnesNone) {
  AddNode("renderD129", "0x1002\n", "0x73bf\n", nullptr, nullptr, nullptr);
  AddNode("renderD128", "0x8086\n", "0x9a49\n", nullptr, nullptr, nullptr);
  sources_.RenderNodeDir = (root_ / "dev" / "dri").string();
  com_ptr<IDXGIFactory1> factory;
  ASSERT_EQ(CreateLinuxAdapterFactory(sources_, factory.put()), S_OK);
  std::vector<std::string> adapterNodes, deviceNodes;
  for (std::uint32_t i = 0; i < 3; ++i) {
    com_ptr<IDXGIAdapter1> adapter;
    ASSERT_EQ(factory->EnumAdapters1(i, adapter.put()), S_OK);
    adapterNodes.push_back(adapter->RenderNodePath());
    com_ptr<ID3D11Device> device;
    com_ptr<ID3D11DeviceContext> context;
    ASSERT_EQ(LinuxGraphics().D3D11CreateDevice(adapter.get(), D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                                                device.put(), context.put()),
              S_OK);
    deviceNodes.push_back(device->RenderNodePath());
  }
  const std::vector<std::string> expected{(root_ / "dev" / "dri" / "renderD128").string(),
                                          (root_ / "dev" / "dri" / "renderD129").string(), ""};
  EXPECT_EQ(adapterNodes, expected);
  EXPECT_EQ(deviceNodes, expected) << "the device is made on its adapter's node";
}

TEST(CpuDevice, TexturesCopyAndMapOnlyWhereAllowed) {
  com_ptr<ID3D11Device> device;
  com_ptr<ID3D11DeviceContext> context;
  ASSERT_EQ(CreateCpuDevice(device.put(), context.put()), S_OK);
  D3D11_TEXTURE2D_DESC desc;
  desc.Width = 33;
  desc.Height = 7;
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  com_ptr<ID3D11Texture2D> a, staging;
  ASSERT_EQ(device->CreateTexture2D(&desc, nullptr, a.put()), S_OK);
  EXPECT_GE(a->RowPitch(), 33u * 4);
  a->Pixels()[a->RowPitch() * 6 + 32 * 4] = 0x7F;

  D3D11_MAPPED_SUBRESOURCE mapped;
  EXPECT_EQ(context->Map(a.get(), 0, D3D11_MAP_READ, 0, &mapped), E_INVALIDARG);
  desc.Usage = D3D11_USAGE_STAGING;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  ASSERT_EQ(device->CreateTexture2D(&desc, nullptr, staging.put()), S_OK);
  context->CopyResource(staging.get(), a.get());
  ASSERT_EQ(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
  EXPECT_EQ(mapped.DepthPitch, mapped.RowPitch * 7);
  EXPECT_EQ(static_cast<std::uint8_t*>(mapped.pData)[mapped.RowPitch * 6 + 32 * 4], 0x7F);
  context->Unmap(staging.get(), 0);

  for (auto bad : {std::pair{0u, 7u}, std::pair{16385u, 7u}}) {
    D3D11_TEXTURE2D_DESC d = desc;
    d.Width = bad.first;
    d.Height = bad.second;
    com_ptr<ID3D11Texture2D> t;
    EXPECT_EQ(device->CreateTexture2D(&d, nullptr, t.put()), E_INVALIDARG);
    EXPECT_FALSE(t);
  }
  desc.Format = DXGI_FORMAT_UNKNOWN;
  com_ptr<ID3D11Texture2D> t;
  EXPECT_EQ(device->CreateTexture2D(&desc, nullptr, t.put()), E_INVALIDARG);
}

}  // namespace

}  // namespace corvantis
