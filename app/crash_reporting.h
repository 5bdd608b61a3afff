#pragma once
#include <cstdint>
#include <string>

#include "platform/d3d11.h"
#include "platform/registry.h"

namespace corvantis {

// Starts the event client with the build's DSN (`dsn` empty: nothing is ever sent).
void StartCrashReporting(const char* dsn);
// The crash-report user {"email": ...}.
void ReportUser(const std::wstring& email);
// Tags and the "AMD Driver Version: " line from the driver's install key, as far as its values
// are usable (REG_SZ, NUL-terminated, within 256 bytes).
void ReportDriverVersion(Registry& registry);
// Prints the adapter line and an empty line; tags description, vendor and device.
void ReportAdapter(const DXGI_ADAPTER_DESC1& description);
// The "amf_version" tag and a breadcrumb with the version.
void ReportAmfVersion(const std::string& versionText, std::uint64_t version);
void StopCrashReporting();

inline constexpr wchar_t kAmdDriverKey[] = L"SOFTWARE\\ATI Technologies\\Install";

}  // namespace corvantis
