#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "app/crash_reporting.h"
#include "platform/console.h"
#include "platform/hresult_error.h"
#include "platform/utf.h"
#include "sentry/sentry.h"
#include "sentry/shell.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

namespace st = corvantis::sentry;

struct RawValue {
  std::uint32_t Type;
  std::basic_string<std::uint8_t> Bytes;
};

class FakeKey final : public RegistryKey {
 public:
  explicit FakeKey(std::map<std::wstring, RawValue> values) : values_(std::move(values)) {}
  std::int32_t QueryValue(const std::wstring& name, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override {
    const auto it = values_.find(name);
    if (it == values_.end()) return ERROR_FILE_NOT_FOUND_STATUS;
    *type = it->second.Type;
    const auto needed = static_cast<std::uint32_t>(it->second.Bytes.size());
    if (needed > *size) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::copy(it->second.Bytes.begin(), it->second.Bytes.end(), data);
    *size = needed;
    return ERROR_SUCCESS;
  }

 private:
  std::map<std::wstring, RawValue> values_;
};

class FakeRegistry final : public Registry {
 public:
  std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path) override {
    Opened.push_back(path);
    if (!Present) return nullptr;
    return std::make_unique<FakeKey>(Values);
  }
  bool Present = true;
  std::map<std::wstring, RawValue> Values;
  std::vector<std::wstring> Opened;
};

RawValue Sz(const std::wstring& text, std::uint32_t type = REG_SZ) {
  return RawValue{type, EncodeRegistryString(text)};
}

class CrashReportingTest : public ::testing::Test {
 protected:
  CrashReportingTest() : redirect_(console) { StartCrashReporting(""); }
  ~CrashReportingTest() override { StopCrashReporting(); }
  corvantis::sentry::Json Tags() { return st::ScopeSnapshot()["tags"]; }

  StringConsole console;
  ScopedConsoleRedirect redirect_;
  FakeRegistry registry;
};

TEST_F(CrashReportingTest, EditionAndExternalVersion) {
  registry.Present = false;
  ReportDriverVersion(registry);
  EXPECT_TRUE(console.Text().empty()) << "no key, no line";
  EXPECT_TRUE(Tags().empty() || Tags().is_null());

  registry.Present = true;
  registry.Values = {{L"MarketEdition", Sz(L"Adrenalin Edition")},
                     {L"ExternalReleaseVersion", Sz(L"24.3.1")},
                     {L"ReleaseVersion", Sz(L"23.40.27.06")}};
  ReportDriverVersion(registry);
  EXPECT_EQ(registry.Opened, std::vector<std::wstring>(2, L"SOFTWARE\\ATI Technologies\\Install"));
  EXPECT_EQ(console.Text(), L"AMD Driver Version: Adrenalin Edition 24.3.1\n");
  const auto tags = Tags();
  EXPECT_EQ(tags["amd_driver_version"], "24.3.1");
  EXPECT_EQ(tags["amd_driver_edition"], "Adrenalin Edition");
  EXPECT_EQ(tags["amd_driver_version_ex"], "23.40.27.06");

  // The external version alone, cut at a NUL inside it.
  RawValue withNul = Sz(L"24.3.1");
  withNul.Bytes.insert(withNul.Bytes.end() - 2, {0, 0, 'x', 0});
  registry.Values = {{L"ExternalReleaseVersion", withNul}};
  ReportDriverVersion(registry);
  EXPECT_EQ(console.Text(),
            L"AMD Driver Version: Adrenalin Edition 24.3.1\nAMD Driver Version: 24.3.1\n");
}

TEST_F(CrashReportingTest, ValuesThatCannotBeUsedLeaveOutWhatDependsOnThem) {
  registry.Values = {{L"MarketEdition", Sz(L"Adrenalin Edition")}};
  ReportDriverVersion(registry);
  EXPECT_TRUE(console.Text().empty());
  EXPECT_FALSE(Tags().contains("amd_driver_edition"));

  registry.Values = {{L"ReleaseVersion", Sz(L"23.40")},
                     {L"ExternalReleaseVersion", Sz(L"24.3.1", REG_EXPAND_SZ)},
                     {L"MarketEdition", Sz(L"E", REG_MULTI_SZ)}};
  ReportDriverVersion(registry);
  EXPECT_TRUE(console.Text().empty());
  EXPECT_EQ(Tags()["amd_driver_version_ex"], "23.40");
  EXPECT_FALSE(Tags().contains("amd_driver_version"));

  // 127 characters and the terminator fill the 256-byte buffer; one more does not fit.
  registry.Values = {{L"ExternalReleaseVersion", Sz(std::wstring(128, L'x'))},
                     {L"ReleaseVersion", Sz(std::wstring(127, L'r'))}};
  ReportDriverVersion(registry);
  EXPECT_TRUE(console.Text().empty());
  EXPECT_EQ(Tags()["amd_driver_version_ex"], std::string(127, 'r'));

  // Without a terminator the text is not trusted.
  RawValue unterminated = Sz(L"abc");
  unterminated.Bytes.resize(unterminated.Bytes.size() - 2);
  registry.Values = {{L"ExternalReleaseVersion", unterminated}};
  ReportDriverVersion(registry);
  EXPECT_TRUE(console.Text().empty());
}

TEST_F(CrashReportingTest, AdapterLineAndTags) {
  DXGI_ADAPTER_DESC1 d;
  std::wcsncpy(d.Description, L"Radeon \u00e9", 127);
  d.VendorId = 0x1002;
  d.DeviceId = 0xAB;
  ReportAdapter(d);
  EXPECT_EQ(console.Text(), L"DXGI_ADAPTER_DESC1.Description: Radeon \u00e9\n\n");
  const auto tags = Tags();
  EXPECT_EQ(tags["dxgi_adapter_description"], "Radeon \xc3\xa9");
  EXPECT_EQ(tags["dxgi_adapter_vendor_id"], "0x1002");
  EXPECT_EQ(tags["dxgi_adapter_device_id"], "0x00AB");
}

// The tag takes the caller's text, the breadcrumb formats the 64-bit value again: a version
// whose text differs from the one passed in tells a copied text apart.
TEST_F(CrashReportingTest, AmfVersionTagAndBreadcrumbAndUserEmail) {
  ReportAmfVersion("1.4.18.0", 0xFFFF000500070003ull);
  EXPECT_EQ(Tags()["amf_version"], "1.4.18.0");
  const auto crumbs = st::ScopeSnapshot()["breadcrumbs"];
  ASSERT_EQ(crumbs.size(), 1u);
  EXPECT_EQ(crumbs[0]["type"], "default");
  EXPECT_EQ(crumbs[0]["message"], "amf");
  EXPECT_EQ(crumbs[0]["category"], "hardware");
  EXPECT_EQ(crumbs[0]["level"], "info");
  EXPECT_EQ(crumbs[0]["data"]["version"], "65535.5.7.3");
  EXPECT_TRUE(crumbs[0].contains("timestamp"));

  ReportUser(L"j\u00fcrgen@example.org");
  EXPECT_EQ(st::ScopeSnapshot()["user"]["email"], "j\xc3\xbcrgen@example.org");
}

TEST(ToUtf8, ConvertsOrRaises) {
  EXPECT_EQ(ToUtf8(L""), "");
  EXPECT_EQ(ToUtf8(L"\u20ac"), "\xe2\x82\xac");
  EXPECT_EQ(RaisedCode([] { ToUtf8(std::wstring(1, static_cast<wchar_t>(0xDC00))); }), 0x80070459u);
}

}  // namespace

}  // namespace corvantis
