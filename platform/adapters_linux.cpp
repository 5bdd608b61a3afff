#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/graphics.h"
#include "platform/utf.h"

namespace corvantis {

extern const wchar_t kSoftwareAdapterDescription[] =
    L"Software adapter (CPU encoders libx264 and libx265)";

namespace {

std::optional<std::uint32_t> ReadHexFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string text;
  if (!(in >> text)) return std::nullopt;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  if (end == text.c_str() || value > 0xFFFFFFFFul) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::string PciIdsPath(const std::string& configured) {
  if (!configured.empty()) return configured;
  for (const char* candidate :
       {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids", "/usr/share/pci.ids"}) {
    if (std::filesystem::exists(candidate)) return candidate;
  }
  return {};
}

// Device name from pci.ids: a subsystem entry when there is one, else the device entry.
std::optional<std::string> LookUpPciName(const std::string& idsPath, std::uint32_t vendor,
                                         std::uint32_t device, std::uint32_t subVendor,
                                         std::uint32_t subDevice) {
  std::ifstream in(idsPath);
  if (!in) return std::nullopt;
  char key[32];
  std::snprintf(key, sizeof key, "%04x", vendor);
  const std::string vendorKey = key;
  std::snprintf(key, sizeof key, "\t%04x", device);
  const std::string deviceKey = key;
  std::snprintf(key, sizeof key, "\t\t%04x %04x", subVendor, subDevice);
  const std::string subKey = key;

  std::string line;
  bool inVendor = false, inDevice = false;
  std::optional<std::string> deviceName;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != '\t') {
      if (inVendor) break;
      inVendor = line.compare(0, 4, vendorKey) == 0 && line.size() > 4 && line[4] == ' ';
      continue;
    }
    if (!inVendor) continue;
    if (line.size() > 1 && line[1] != '\t') {
      if (inDevice) break;
      if (line.compare(0, deviceKey.size(), deviceKey) == 0 && line.size() > deviceKey.size() + 2) {
        inDevice = true;
        deviceName = line.substr(deviceKey.size() + 2);
      }
      continue;
    }
    if (inDevice && line.compare(0, subKey.size(), subKey) == 0 && line.size() > subKey.size() + 2)
      return line.substr(subKey.size() + 2);
  }
  return deviceName;
}

void CopyDescription(DXGI_ADAPTER_DESC1& desc, const std::wstring& text) {
  const std::size_t n = std::min<std::size_t>(text.size(), 127);
  std::copy_n(text.begin(), n, desc.Description);
  desc.Description[n] = L'\0';
}

struct AdapterEntry {
  DXGI_ADAPTER_DESC1 Desc;
  std::string RenderNode;  // empty for the software adapter
};

class LinuxAdapter final : public RefCounted<IDXGIAdapter1> {
 public:
  explicit LinuxAdapter(AdapterEntry entry) : entry_(std::move(entry)) {}
  HRESULT GetDesc1(DXGI_ADAPTER_DESC1* desc) override {
    if (desc == nullptr) return E_INVALIDARG;
    *desc = entry_.Desc;
    return S_OK;
  }
  const char* RenderNodePath() const noexcept override { return entry_.RenderNode.c_str(); }

 private:
  const AdapterEntry entry_;
};

class LinuxAdapterFactory final : public RefCounted<IDXGIFactory1> {
 public:
  explicit LinuxAdapterFactory(std::vector<AdapterEntry> adapters)
      : adapters_(std::move(adapters)) {}
  HRESULT EnumAdapters1(std::uint32_t index, IDXGIAdapter1** adapter) override {
    if (adapter == nullptr) return E_INVALIDARG;
    *adapter = nullptr;
    if (index >= adapters_.size()) return DXGI_ERROR_NOT_FOUND;
    try {
      *adapter = new LinuxAdapter(adapters_[index]);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  std::vector<AdapterEntry> adapters_;
};

std::vector<AdapterEntry> EnumerateRenderNodes(const AdapterSources& sources) {
  namespace fs = std::filesystem;
  std::vector<std::pair<int, fs::path>> nodes;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sources.DrmClassDir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("renderD", 0) != 0) continue;
    char* end = nullptr;
    const long minor = std::strtol(name.c_str() + 7, &end, 10);
    if (end == name.c_str() + 7 || *end != '\0') continue;
    nodes.emplace_back(static_cast<int>(minor), entry.path());
  }
  std::sort(nodes.begin(), nodes.end());

  const std::string idsPath = PciIdsPath(sources.PciIdsPath);
  std::vector<AdapterEntry> adapters;
  for (const auto& [minor, path] : nodes) {
    const fs::path device = path / "device";
    const auto vendor = ReadHexFile(device / "vendor");
    const auto deviceId = ReadHexFile(device / "device");
    if (!vendor || !deviceId) continue;  // not a PCI device
    const std::uint32_t subVendor = ReadHexFile(device / "subsystem_vendor").value_or(0);
    const std::uint32_t subDevice = ReadHexFile(device / "subsystem_device").value_or(0);
    DXGI_ADAPTER_DESC1 desc;
    desc.VendorId = *vendor;
    desc.DeviceId = *deviceId;
    desc.SubSysId = (subDevice << 16) | (subVendor & 0xFFFF);
    desc.Revision = ReadHexFile(device / "revision").value_or(0);
    desc.AdapterLuid.LowPart = static_cast<std::uint32_t>(minor);
    std::optional<std::string> name;
    if (!idsPath.empty()) name = LookUpPciName(idsPath, *vendor, *deviceId, subVendor, subDevice);
    if (!name) {
      char fallback[64];
      std::snprintf(fallback, sizeof fallback, "PCI device %04x:%04x", *vendor, *deviceId);
      name = fallback;
    }
    CopyDescription(desc, Utf8ToWide(*name));
    adapters.push_back({desc, (fs::path(sources.RenderNodeDir) / path.filename()).string()});
  }
  return adapters;
}

}  // namespace

HRESULT CreateLinuxAdapterFactory(const AdapterSources& sources, IDXGIFactory1** factory) {
  if (factory == nullptr) return E_INVALIDARG;
  *factory = nullptr;
  try {
    std::vector<AdapterEntry> adapters = EnumerateRenderNodes(sources);
    DXGI_ADAPTER_DESC1 software;
    CopyDescription(software, kSoftwareAdapterDescription);
    software.Flags = DXGI_ADAPTER_FLAG_SOFTWARE;
    software.AdapterLuid.LowPart = 0xFFFFFFFFu;
    adapters.push_back({software, {}});
    *factory = new LinuxAdapterFactory(std::move(adapters));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace corvantis
