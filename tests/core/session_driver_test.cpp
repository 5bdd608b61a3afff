#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "app/session_driver.h"
#include "platform/console.h"
#include "platform/hresult_error.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

class FakeAdapter final : public RefCounted<IDXGIAdapter1> {
 public:
  FakeAdapter(DXGI_ADAPTER_DESC1 d, int* alive) : Desc(d), alive_(alive) { ++*alive_; }
  ~FakeAdapter() override { --*alive_; }
  HRESULT GetDesc1(DXGI_ADAPTER_DESC1* out) override {
    *out = Desc;
    return S_OK;
  }
  const char* RenderNodePath() const noexcept override { return ""; }
  DXGI_ADAPTER_DESC1 Desc;

 private:
  int* alive_;
};

class FakeFactory final : public RefCounted<IDXGIFactory1> {
 public:
  HRESULT EnumAdapters1(std::uint32_t index, IDXGIAdapter1** out) override {
    Enumerated.push_back(index);
    if (index >= Adapters.size()) return DXGI_ERROR_NOT_FOUND;
    *out = new FakeAdapter(Adapters[index], &AliveAdapters);
    return S_OK;
  }
  std::vector<DXGI_ADAPTER_DESC1> Adapters;
  int AliveAdapters = 0;
  std::vector<std::uint32_t> Enumerated;
};

DXGI_ADAPTER_DESC1 Adapter(const wchar_t* name, std::uint32_t vendor, std::uint32_t device,
                           std::uint32_t subsys = 0, std::uint32_t revision = 0,
                           std::uint32_t flags = 0) {
  DXGI_ADAPTER_DESC1 d;
  std::wcsncpy(d.Description, name, 127);
  d.VendorId = vendor;
  d.DeviceId = device;
  d.SubSysId = subsys;
  d.Revision = revision;
  d.Flags = flags;
  return d;
}

// Graphics whose creation steps fail on request; the objects it makes are never used by the
// driver beyond being held.
class FakeGraphics final : public GraphicsApi {
 public:
  HRESULT CreateDXGIFactory2(std::uint32_t, IDXGIFactory1** out) override {
    if (FAILED(FailDxgi)) return FailDxgi;
    Factory->AddRef();
    *out = Factory.get();
    return S_OK;
  }
  HRESULT D3D11CreateDevice(IDXGIAdapter1* adapter, std::uint32_t flags, ID3D11Device** device,
                            ID3D11DeviceContext** context) override {
    DXGI_ADAPTER_DESC1 d;
    adapter->GetDesc1(&d);
    DeviceAdapter = d.Description;
    DeviceFlags = flags;
    if (FAILED(FailDevice)) return FailDevice;
    return CreateCpuDevice(device, context);
  }
  HRESULT D2D1CreateFactory(ID2D1Factory1**) override { return FailD2D; }
  HRESULT DWriteCreateFactory(IDWriteFactory**) override { return FailDWrite; }
  HRESULT CreateWicImagingFactory(IWICImagingFactory**) override { return FailWic; }

  com_ptr<FakeFactory> Factory = com_ptr<FakeFactory>::attach(new FakeFactory);
  HRESULT FailDxgi = S_OK, FailDevice = S_OK, FailD2D = S_OK, FailDWrite = S_OK, FailWic = S_OK;
  std::wstring DeviceAdapter;
  std::uint32_t DeviceFlags = 0;
};

class RecordingEnvironment final : public SessionEnvironment {
 public:
  HRESULT RoInitialize() override {
    Calls.push_back("RoInitialize");
    return RoInitializeResult;
  }
  GraphicsApi& Graphics() override { return FakeDevices; }
  void StartCrashReporting() override { Calls.push_back("Start"); }
  void ReportUser(const std::wstring& email) override {
    Calls.push_back("User " + std::string(email.begin(), email.end()));
    RaiseIf("User");
  }
  void ReportDriverVersion() override {
    Calls.push_back("Driver");
    RaiseIf("Driver");
  }
  void ReportAdapter(const DXGI_ADAPTER_DESC1& d) override {
    Calls.push_back("Adapter " + std::to_string(d.VendorId));
    RaiseIf("Adapter");
  }
  void RunScenarioSeries(BenchmarkSession& session, const CodecProfile& profile) override {
    const std::wstring label = profile.Label;
    Calls.push_back("Series " + std::string(label.begin(), label.end()));
    ResultsAtSeries.push_back(session.ResultsText);
    if (Series) Series(session, label);
  }
  void SubmitResults(BenchmarkSession& session) override {
    Calls.push_back("Submit");
    Submitted = session.ResultsText;
    RaiseIf("Submit");
  }
  void StopCrashReporting() override { Calls.push_back("Stop"); }

  FakeGraphics FakeDevices;
  HRESULT RoInitializeResult = S_OK;
  std::vector<std::string> Calls;
  std::vector<std::wstring> ResultsAtSeries;
  std::function<void(BenchmarkSession&, const std::wstring&)> Series;
  std::wstring Submitted;
  std::string RaiseIn;  // the step that raises, as a failed text conversion would

 private:
  void RaiseIf(const char* step) const {
    if (RaiseIn == step) throw hresult_error(HRESULT_FROM_WIN32(1113));
  }
};

class SessionDriverTest : public ::testing::Test {
 protected:
  SessionDriverTest() : out_(console_), err_(errors_, ScopedConsoleRedirect::Stream::Err) {
    env.FakeDevices.Factory->Adapters = {
        Adapter(L"Radeon RX 7900 XTX", 0x1002, 0x744C, 0x0E3B1002, 0xC8)};
  }
  int Run() { return RunBenchmarkSession(session, env); }

  StringConsole console_, errors_;
  ScopedConsoleRedirect out_, err_;
  RecordingEnvironment env;
  BenchmarkSession session;
};

using Calls = std::vector<std::string>;

TEST_F(SessionDriverTest, FullRunInOrder) {
  session.UserEmail = L"a@b";
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(env.Calls, (Calls{"RoInitialize", "Start", "User a@b", "Driver", "Adapter 4098",
                              "Series AVC", "Series HEVC", "Submit", "Stop"}));
  EXPECT_EQ(env.FakeDevices.DeviceFlags, D3D11_CREATE_DEVICE_BGRA_SUPPORT);
  EXPECT_EQ(session.TextureDescription.MipLevels, 1u);
  EXPECT_EQ(session.TextureDescription.BindFlags, 0x28u);
  EXPECT_EQ(session.TextureDescription.Width, 1920u);
  EXPECT_EQ(console_.Text(), std::wstring(kBanner) + L"\n\n");
  EXPECT_EQ(
      env.ResultsAtSeries[0],
      L"Radeon RX 7900 XTX (Corvantis)\n\nVendor 0x1002, Device 0x744C, 0xE3B1002, 0x00C8\n\n");
  EXPECT_TRUE(errors_.Text().empty());
}

// Only the chosen adapter stays held, by the session.
TEST_F(SessionDriverTest, PicksTheFirstAmdAdapterAndReleasesTheSkippedOnes) {
  FakeFactory& factory = *env.FakeDevices.Factory;
  factory.Adapters = {Adapter(L"Intel UHD", 0x8086, 0x9A49), Adapter(L"First AMD", 0x1002, 1),
                      Adapter(L"Second AMD", 0x1002, 2)};
  Run();
  EXPECT_EQ(env.FakeDevices.DeviceAdapter, L"First AMD");
  EXPECT_EQ(std::wstring(session.AdapterDescription.Description), L"First AMD");
  EXPECT_EQ(factory.Enumerated, (std::vector<std::uint32_t>{0, 1}));
  EXPECT_EQ(factory.AliveAdapters, 1);
  session.Adapter.reset();
  EXPECT_EQ(factory.AliveAdapters, 0);
}

TEST_F(SessionDriverTest, NoAmdAdapterEndsQuietlyWithANotice) {
  env.FakeDevices.Factory->Adapters = {
      Adapter(L"Intel UHD", 0x8086, 1),
      Adapter(L"Software", 0, 0, 0, 0, DXGI_ADAPTER_FLAG_SOFTWARE)};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(env.Calls, (Calls{"RoInitialize", "Start", "Driver", "Stop"}));
  EXPECT_TRUE(console_.Text().empty());
  EXPECT_NE(errors_.Text().find(L"-Adapter:Software"), std::wstring::npos);
  EXPECT_FALSE(session.Device);
  EXPECT_EQ(env.FakeDevices.Factory->AliveAdapters, 0);
}

TEST_F(SessionDriverTest, SoftwareAdapterOnRequest) {
  env.FakeDevices.Factory->Adapters = {
      Adapter(L"Radeon", 0x1002, 1), Adapter(L"Software", 0, 0, 0, 0, DXGI_ADAPTER_FLAG_SOFTWARE)};
  session.Options.UseSoftwareAdapter = true;
  Run();
  EXPECT_EQ(env.FakeDevices.DeviceAdapter, L"Software");
  EXPECT_EQ(env.Calls.back(), "Stop");
  EXPECT_TRUE(errors_.Text().empty());
}

TEST_F(SessionDriverTest, SetUpFailuresSkipEverythingButStop) {
  struct Case {
    HRESULT FakeGraphics::*Field;
    const char* Name;
  } cases[] = {{&FakeGraphics::FailDxgi, "dxgi"},
               {&FakeGraphics::FailDevice, "device"},
               {&FakeGraphics::FailD2D, "d2d"},
               {&FakeGraphics::FailDWrite, "dwrite"},
               {&FakeGraphics::FailWic, "wic"}};
  for (const Case& c : cases) {
    RecordingEnvironment e;
    e.FakeDevices.Factory->Adapters = {Adapter(L"Radeon", 0x1002, 1)};
    e.FakeDevices.*c.Field = E_FAIL;
    BenchmarkSession s;
    StringConsole quiet;
    ScopedConsoleRedirect r(quiet);
    EXPECT_EQ(RunBenchmarkSession(s, e), 0) << c.Name;
    EXPECT_EQ(e.Calls.back(), "Stop") << c.Name;
    EXPECT_EQ(std::count(e.Calls.begin(), e.Calls.end(), "Submit"), 0) << c.Name;
    EXPECT_TRUE(s.ResultsText.empty()) << c.Name;
    EXPECT_TRUE(quiet.Text().empty()) << c.Name;
  }
}

TEST_F(SessionDriverTest, ErrorEscapingTheFirstSeriesStillSubmits) {
  env.Series = [](BenchmarkSession& s, const std::wstring& label) {
    s.ResultsText += L"partial\n";
    if (label == L"AVC") throw hresult_error(E_FAIL);
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(env.Calls, (Calls{"RoInitialize", "Start", "Driver", "Adapter 4098", "Series AVC",
                              "Submit", "Stop"}));
  EXPECT_NE(env.Submitted.find(L"partial"), std::wstring::npos);
}

TEST_F(SessionDriverTest, RoInitializeFailureLeavesBeforeCrashReporting) {
  env.RoInitializeResult = E_OUTOFMEMORY;
  EXPECT_EQ(RaisedCode([&] { Run(); }), static_cast<std::uint32_t>(E_OUTOFMEMORY));
  EXPECT_EQ(env.Calls, (Calls{"RoInitialize"}));
}

// Errors of the adapter report and of the submission reach the outer catch and crash reporting
// still stops; the user and driver reports run before that catch, so theirs leave the session.
TEST_F(SessionDriverTest, ReportAndSubmissionErrorsFollowTheFailureTable) {
  const struct {
    const char* Step;
    bool Caught;
    Calls Expected;
  } cases[] = {
      {"Adapter", true, {"RoInitialize", "Start", "User a@b", "Driver", "Adapter 4098", "Stop"}},
      {"Submit",
       true,
       {"RoInitialize", "Start", "User a@b", "Driver", "Adapter 4098", "Series AVC", "Series HEVC",
        "Submit", "Stop"}},
      {"User", false, {"RoInitialize", "Start", "User a@b"}},
      {"Driver", false, {"RoInitialize", "Start", "User a@b", "Driver"}},
  };
  for (const auto& c : cases) {
    RecordingEnvironment e;
    e.FakeDevices.Factory->Adapters = {Adapter(L"Radeon", 0x1002, 1)};
    e.RaiseIn = c.Step;
    BenchmarkSession s;
    s.UserEmail = L"a@b";
    if (c.Caught) {
      EXPECT_EQ(RunBenchmarkSession(s, e), 0) << c.Step;
    } else {
      EXPECT_THROW(RunBenchmarkSession(s, e), hresult_error) << c.Step;
    }
    EXPECT_EQ(e.Calls, c.Expected) << c.Step;
  }
}

TEST(SessionRecord, StartsWithTheDefaultTextureDescription) {
  BenchmarkSession s;
  const D3D11_TEXTURE2D_DESC& d = s.TextureDescription;
  EXPECT_EQ(d.Width, 1920u);
  EXPECT_EQ(d.Height, 1080u);
  EXPECT_EQ(d.MipLevels, 0u);
  EXPECT_EQ(d.ArraySize, 1u);
  EXPECT_EQ(d.Format, DXGI_FORMAT_B8G8R8A8_UNORM);
  EXPECT_EQ(d.BindFlags, 0x8u);
  EXPECT_TRUE(s.UserEmail.empty());
  EXPECT_TRUE(s.ResultsText.empty());
}

}  // namespace

}  // namespace corvantis
