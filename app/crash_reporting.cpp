#include "app/crash_reporting.h"

#include <map>
#include <optional>

#include "amf/api/result.h"
#include "platform/console.h"
#include "platform/format_text.h"
#include "platform/utf.h"
#include "platform/win32_error.h"
#include "sentry/sentry.h"

namespace corvantis {

void StartCrashReporting(const char* dsn) {
  sentry_options_t* options = sentry_options_new();
  sentry_options_set_dsn(options, dsn);
  sentry_init(options);
}

void ReportUser(const std::wstring& email) {
  sentry_value_t user = sentry_value_new_object();
  sentry_value_set_by_key(user, "email", sentry_value_new_string(ToUtf8(email).c_str()));
  sentry_set_user(user);
}

namespace {

constexpr std::uint32_t kValueBufferBytes = 256;

// The text of a REG_SZ value that fits the buffer with its terminator, up to the first NUL.
std::optional<std::wstring> ReadStringValue(RegistryKey& key, const wchar_t* name) {
  std::uint8_t buffer[kValueBufferBytes] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof buffer;
  if (key.QueryValue(name, &type, buffer, &size) != ERROR_SUCCESS || type != REG_SZ)
    return std::nullopt;
  std::u16string units;
  bool terminated = false;
  for (std::uint32_t i = 0; i + 1 < size && i + 1 < sizeof buffer; i += 2) {
    const auto unit = static_cast<char16_t>(buffer[i] | (buffer[i + 1] << 8));
    if (unit == 0) {
      terminated = true;
      break;
    }
    units.push_back(unit);
  }
  if (!terminated) return std::nullopt;
  return Utf16ToWide(units);
}

}  // namespace

void ReportDriverVersion(Registry& registry) {
  std::unique_ptr<RegistryKey> key = registry.OpenLocalMachineKey(kAmdDriverKey);
  if (!key) return;
  std::map<std::wstring, std::wstring> values;
  for (const wchar_t* name : {L"MarketEdition", L"ReleaseVersion", L"ExternalReleaseVersion"})
    if (auto text = ReadStringValue(*key, name)) values[name] = *text;

  const auto external = values.find(L"ExternalReleaseVersion");
  if (external != values.end()) {
    sentry_set_tag("amd_driver_version", ToUtf8(external->second).c_str());
    const auto edition = values.find(L"MarketEdition");
    if (edition != values.end()) {
      sentry_set_tag("amd_driver_edition", ToUtf8(edition->second).c_str());
      StdOut().WriteLine(L"AMD Driver Version: " + edition->second + L" " + external->second);
    } else {
      StdOut().WriteLine(L"AMD Driver Version: " + external->second);
    }
  }
  const auto release = values.find(L"ReleaseVersion");
  if (release != values.end())
    sentry_set_tag("amd_driver_version_ex", ToUtf8(release->second).c_str());
}

void ReportAdapter(const DXGI_ADAPTER_DESC1& description) {
  const std::wstring text(description.Description);
  StdOut().WriteLine(L"DXGI_ADAPTER_DESC1.Description: " + text);
  StdOut().EndLine();
  sentry_set_tag("dxgi_adapter_description", ToUtf8(text).c_str());
  sentry_set_tag("dxgi_adapter_vendor_id", FormatNarrow("0x%04X", description.VendorId).c_str());
  sentry_set_tag("dxgi_adapter_device_id", FormatNarrow("0x%04X", description.DeviceId).c_str());
}

void ReportAmfVersion(const std::string& versionText, std::uint64_t version) {
  sentry_set_tag("amf_version", versionText.c_str());
  sentry_value_t crumb = sentry_value_new_breadcrumb("default", "amf");
  sentry_value_set_by_key(crumb, "category", sentry_value_new_string("hardware"));
  sentry_value_set_by_key(crumb, "level", sentry_value_new_string("info"));
  sentry_value_t data = sentry_value_new_object();
  sentry_value_set_by_key(
      data, "version",
      sentry_value_new_string(FormatNarrow("%u.%u.%u.%u", amf::AMF_GET_MAJOR_VERSION(version),
                                           amf::AMF_GET_MINOR_VERSION(version),
                                           amf::AMF_GET_SUBMINOR_VERSION(version),
                                           amf::AMF_GET_BUILD_VERSION(version))
                                  .c_str()));
  sentry_value_set_by_key(crumb, "data", data);
  sentry_add_breadcrumb(crumb);
}

void StopCrashReporting() { sentry_shutdown(); }

}  // namespace corvantis
