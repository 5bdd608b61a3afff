#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_bytes.h"
#include "platform/graphics.h"
#include "platform/utf.h"

namespace corvantis {

extern const wchar_t kSoftwareAdapterDescription[] =
    L"Software adapter (CPU encoders libx264 and libx265)";

namespace {

// Sysfs attributes are a page at most; pci.ids is a few MB.
constexpr std::size_t kAttributeBytes = 64 * 1024;

// The first line of a small sysfs file without its line end; empty when unreadable.
std::string ReadLine(const std::filesystem::path& path) {
  std::string text = ReadRegularFile(path.string(), kAttributeBytes).value_or("");
  text = text.substr(0, text.find('\n'));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) text.pop_back();
  return text;
}

std::optional<std::uint32_t> ReadHexFile(const std::filesystem::path& path) {
  const std::string text = ReadLine(path);
  if (text.empty()) return std::nullopt;
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
  const std::optional<std::string> ids = ReadFileBytes(idsPath);
  if (!ids) return std::nullopt;
  char key[32];
  std::snprintf(key, sizeof key, "%04x", vendor);
  const std::string vendorKey = key;
  std::snprintf(key, sizeof key, "\t%04x", device);
  const std::string deviceKey = key;
  std::snprintf(key, sizeof key, "\t\t%04x %04x", subVendor, subDevice);
  const std::string subKey = key;

  bool inVendor = false, inDevice = false;
  std::optional<std::string> deviceName;
  for (std::size_t at = 0; at < ids->size();) {
    std::size_t end = ids->find('\n', at);
    if (end == std::string::npos) end = ids->size();
    const std::string line = ids->substr(at, end - at);
    at = end + 1;
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
  RenderNodeFacts Facts;
};

// "KEY=value" of a uevent file.
std::string UeventValue(const std::filesystem::path& path, const std::string& key) {
  const std::string text = ReadRegularFile(path.string(), kAttributeBytes).value_or("");
  const std::string prefix = key + "=";
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, prefix.size(), prefix) == 0)
      return text.substr(at + prefix.size(), end - at - prefix.size());
    at = end + 1;
  }
  return {};
}

void ReadDeviceFacts(const std::filesystem::path& device, const AdapterSources& sources,
                     RenderNodeFacts& facts) {
  namespace fs = std::filesystem;
  facts.PciAddress = UeventValue(device / "uevent", "PCI_SLOT_NAME");
  facts.KernelDriver = UeventValue(device / "uevent", "DRIVER");
  if (!facts.KernelDriver.empty()) {
    const fs::path module = fs::path(sources.ModuleDir) / facts.KernelDriver;
    facts.ModuleVersion = ReadLine(module / "version");
    if (facts.ModuleVersion.empty()) facts.ModuleVersion = ReadLine(module / "srcversion");
  }
  facts.VbiosVersion = ReadLine(device / "vbios_version");
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(device / "fw_version", ec)) {
    const std::string value = ReadLine(entry.path());
    if (!value.empty()) facts.Firmware.emplace_back(entry.path().filename().string(), value);
  }
  std::sort(facts.Firmware.begin(), facts.Firmware.end());
}

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
    const std::string node = (fs::path(sources.RenderNodeDir) / path.filename()).string();
    RenderNodeFacts facts;
    facts.Node = node;
    facts.Name = *name;
    facts.VendorId = *vendor;
    ReadDeviceFacts(device, sources, facts);
    adapters.push_back({desc, node, std::move(facts)});
  }
  return adapters;
}

}  // namespace

std::vector<RenderNodeFacts> ListRenderNodes(const AdapterSources& sources) {
  std::vector<RenderNodeFacts> nodes;
  for (AdapterEntry& entry : EnumerateRenderNodes(sources)) nodes.push_back(std::move(entry.Facts));
  return nodes;
}

HRESULT CreateLinuxAdapterFactory(const AdapterSources& sources, IDXGIFactory1** factory) {
  if (factory == nullptr) return E_INVALIDARG;
  *factory = nullptr;
  try {
    std::vector<AdapterEntry> adapters = EnumerateRenderNodes(sources);
    DXGI_ADAPTER_DESC1 software;
    CopyDescription(software, kSoftwareAdapterDescription);
    software.Flags = DXGI_ADAPTER_FLAG_SOFTWARE;
    software.AdapterLuid.LowPart = 0xFFFFFFFFu;
    adapters.push_back({software, {}, {}});
    *factory = new LinuxAdapterFactory(std::move(adapters));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace corvantis
