#include <sys/utsname.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/file_bytes.h"
#include "platform/graphics.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "platform/va_display.h"

namespace corvantis {

std::basic_string<std::uint8_t> EncodeRegistryString(const std::wstring& text) {
  std::basic_string<std::uint8_t> bytes;
  auto put = [&](char16_t unit) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  };
  for (wchar_t w : text) {
    auto c = static_cast<char32_t>(w);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      put(static_cast<char16_t>(0xD800 + (c >> 10)));
      put(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      put(c < 0x10000 ? static_cast<char16_t>(c) : u'\uFFFD');
    }
  }
  put(0);
  return bytes;
}

namespace {

constexpr wchar_t kAmdInstallKey[] = L"SOFTWARE\\ATI Technologies\\Install";
constexpr char kAmdgpuModule[] = "/sys/module/amdgpu";

class MapKey final : public RegistryKey {
 public:
  explicit MapKey(std::map<std::wstring, std::wstring> values) : values_(std::move(values)) {}
  std::int32_t QueryValue(const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override {
    const auto it = values_.find(name);
    if (it == values_.end()) return ERROR_FILE_NOT_FOUND_STATUS;
    const auto bytes = EncodeRegistryString(it->second);
    *type = REG_SZ;
    const auto needed = static_cast<std::uint32_t>(bytes.size());
    if (needed > *size) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *size = needed;
    return ERROR_SUCCESS;
  }

 private:
  std::map<std::wstring, std::wstring> values_;
};

constexpr std::uint32_t kAmdVendorId = 0x1002;

// The VA driver's vendor string on the first AMD adapter's render node; empty when there is no
// such node or no VA driver for it.
std::string AmdVaVendorString() {
  com_ptr<IDXGIFactory1> factory;
  if (CreateLinuxAdapterFactory(AdapterSources{}, factory.put()) < 0) return {};
  for (std::uint32_t index = 0;; ++index) {
    com_ptr<IDXGIAdapter1> adapter;
    if (factory->EnumAdapters1(index, adapter.put()) < 0) return {};
    DXGI_ADAPTER_DESC1 desc;
    if (adapter->GetDesc1(&desc) < 0 || desc.VendorId != kAmdVendorId ||
        *adapter->RenderNodePath() == '\0')
      continue;
    std::string error;
    const auto display = VaDisplay::Open(adapter->RenderNodePath(), {}, &error);
    return display ? display->VendorString() : std::string();
  }
}

class SysfsRegistry final : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path) override {
    if (path != kAmdInstallKey || !std::filesystem::exists(kAmdgpuModule)) return nullptr;
    std::map<std::wstring, std::wstring> values;
    utsname names{};
    if (uname(&names) == 0) values[L"ReleaseVersion"] = Utf8ToWide(names.release);
    std::istringstream version(ReadFileBytes(std::string(kAmdgpuModule) + "/version").value_or(""));
    std::string text;
    if (version >> text) values[L"ExternalReleaseVersion"] = Utf8ToWide(text);
    if (const std::string vendor = AmdVaVendorString(); !vendor.empty())
      values[L"MarketEdition"] = Utf8ToWide(vendor);
    return std::make_unique<MapKey>(std::move(values));
  }
};

}  // namespace

Registry& LinuxRegistry() {
  static SysfsRegistry registry;
  return registry;
}

}  // namespace corvantis
