#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "app/session_driver.h"
#include "platform/console.h"
#include "platform/hresult_error.h"

namespace corvantis {

namespace {

class FakeAdapter final : public RefCounted<IDXGIAdapter1> {
 public:
  FakeAdapter(DXGI_ADAPTER_DESC1 d, int* alive) : desc(d), alive_(alive) { ++*alive_; }
  ~FakeAdapter() override { --*alive_; }
  HRESULT GetDesc1(DXGI_ADAPTER_DESC1* out) override {
    *out = desc;
    return S_OK;
  }
  const char* RenderNodePath() const noexcept override { return ""; }
  DXGI_ADAPTER_DESC1 desc;

 private:
  int* alive_;
};

class FakeFactory final : public RefCounted<IDXGIFactory1> {
 public:
  HRESULT EnumAdapters1(std::uint32_t index, IDXGIAdapter1** out) override {
    enumerated.push_back(index);
    if (index >= adapters.size()) return DXGI_ERROR_NOT_FOUND;
    *out = new FakeAdapter(adapters[index], &aliveAdapters);
    return S_OK;
  }
  std::vector<DXGI_ADAPTER_DESC1> adapters;
  int aliveAdapters = 0;
  std::vector<std::uint32_t> enumerated;
};

DXGI_ADAPTER_DESC1 Adapter(const wchar_t* name, std::uint32_t vendor, std::uint32_t device,
                           std::uint32_t subsys = 0, std::uint32_t revision = 0, std::uint32_t flags = 0) {
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
    if (FAILED(failDxgi)) return failDxgi;
    factory->AddRef();
    *out = factory.get();
    return S_OK;
  }
  HRESULT D3D11CreateDevice(IDXGIAdapter1* adapter, std::uint32_t flags, ID3D11Device** device,
                            ID3D11DeviceContext** context) override {
    DXGI_ADAPTER_DESC1 d;
    adapter->GetDesc1(&d);
    deviceAdapter = d.Description;
    deviceFlags = flags;
    if (FAILED(failDevice)) return failDevice;
    return CreateCpuDevice(device, context);
  }
  HRESULT D2D1CreateFactory(ID2D1Factory1**) override { return failD2D; }
  HRESULT DWriteCreateFactory(IDWriteFactory**) override { return failDWrite; }
  HRESULT CreateWicImagingFactory(IWICImagingFactory**) override { return failWic; }

  com_ptr<FakeFactory> factory = com_ptr<FakeFactory>::attach(new FakeFactory);
  HRESULT failDxgi = S_OK, failDevice = S_OK, failD2D = S_OK, failDWrite = S_OK, failWic = S_OK;
  std::wstring deviceAdapter;
  std::uint32_t deviceFlags = 0;
};

class RecordingEnvironment final : public SessionEnvironment {
 public:
  HRESULT RoInitialize() override {
    calls.push_back("RoInitialize");
    return roInitialize;
  }
  GraphicsApi& Graphics() override { return graphics; }
  void StartCrashReporting() override { calls.push_back("Start"); }
  void ReportUser(const std::wstring& email) override {
    calls.push_back("User " + std::string(email.begin(), email.end()));
    RaiseIf("User");
  }
  void ReportDriverVersion() override {
    calls.push_back("Driver");
    RaiseIf("Driver");
  }
  void ReportAdapter(const DXGI_ADAPTER_DESC1& d) override {
    calls.push_back("Adapter " + std::to_string(d.VendorId));
    RaiseIf("Adapter");
  }
  void RunScenarioSeries(BenchmarkSession& session, const CodecProfile& profile) override {
    const std::wstring label = profile.Label;
    calls.push_back("Series " + std::string(label.begin(), label.end()));
    resultsAtSeries.push_back(session.ResultsText);
    if (series) series(session, label);
  }
  void SubmitResults(BenchmarkSession& session) override {
    calls.push_back("Submit");
    submitted = session.ResultsText;
    RaiseIf("Submit");
  }
  void StopCrashReporting() override { calls.push_back("Stop"); }

  FakeGraphics graphics;
  HRESULT roInitialize = S_OK;
  std::vector<std::string> calls;
  std::vector<std::wstring> resultsAtSeries;
  std::function<void(BenchmarkSession&, const std::wstring&)> series;
  std::wstring submitted;
  std::string raiseIn;  // the step that raises, as a failed text conversion would

 private:
  void RaiseIf(const char* step) const {
    if (raiseIn == step) throw hresult_error(HRESULT_FROM_WIN32(1113));
  }
};

class SessionDriverTest : public ::testing::Test {
 protected:
  SessionDriverTest() : out_(console_), err_(errors_, ScopedConsoleRedirect::Stream::Err) {
    env.graphics.factory->adapters = {Adapter(L"Radeon RX 7900 XTX", 0x1002, 0x744C, 0x0E3B1002, 0xC8)};
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
  EXPECT_EQ(env.calls, (Calls{"RoInitialize", "Start", "User a@b", "Driver", "Adapter 4098",
                              "Series AVC", "Series HEVC", "Submit", "Stop"}));
  EXPECT_EQ(env.graphics.deviceFlags, D3D11_CREATE_DEVICE_BGRA_SUPPORT);
  EXPECT_EQ(session.TextureDescription.MipLevels, 1u);
  EXPECT_EQ(session.TextureDescription.BindFlags, 0x28u);
  EXPECT_EQ(session.TextureDescription.Width, 1920u);
  EXPECT_EQ(console_.text(), std::wstring(kBanner) + L"\n\n");
  EXPECT_EQ(env.resultsAtSeries[0],
            L"Radeon RX 7900 XTX (Corvantis)\n\nVendor 0x1002, Device 0x744C, 0xE3B1002, 0x00C8\n\n");
  EXPECT_TRUE(errors_.text().empty());
}

TEST_F(SessionDriverTest, NoUserNoUserReport) {
  Run();
  EXPECT_EQ(env.calls[2], "Driver");
}

TEST_F(SessionDriverTest, PicksTheFirstAmdAdapter) {
  env.graphics.factory->adapters = {Adapter(L"Intel UHD", 0x8086, 0x9A49), Adapter(L"First AMD", 0x1002, 1),
                                    Adapter(L"Second AMD", 0x1002, 2)};
  Run();
  EXPECT_EQ(env.graphics.deviceAdapter, L"First AMD");
  EXPECT_EQ(std::wstring(session.AdapterDescription.Description), L"First AMD");
  EXPECT_EQ(env.graphics.factory->enumerated, (std::vector<std::uint32_t>{0, 1}));
}

TEST_F(SessionDriverTest, NoAmdAdapterEndsQuietlyWithANotice) {
  env.graphics.factory->adapters = {Adapter(L"Intel UHD", 0x8086, 1),
                                    Adapter(L"Software", 0, 0, 0, 0, DXGI_ADAPTER_FLAG_SOFTWARE)};
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(env.calls, (Calls{"RoInitialize", "Start", "Driver", "Stop"}));
  EXPECT_TRUE(console_.text().empty());
  EXPECT_NE(errors_.text().find(L"-Adapter:Software"), std::wstring::npos);
  EXPECT_FALSE(session.Device);
}

TEST_F(SessionDriverTest, SoftwareAdapterOnRequest) {
  env.graphics.factory->adapters = {Adapter(L"Radeon", 0x1002, 1),
                                    Adapter(L"Software", 0, 0, 0, 0, DXGI_ADAPTER_FLAG_SOFTWARE)};
  session.Options.UseSoftwareAdapter = true;
  Run();
  EXPECT_EQ(env.graphics.deviceAdapter, L"Software");
  EXPECT_EQ(env.calls.back(), "Stop");
  EXPECT_TRUE(errors_.text().empty());
}

TEST_F(SessionDriverTest, SetUpFailuresSkipEverythingButStop) {
  struct Case {
    HRESULT FakeGraphics::*field;
    const char* name;
  } cases[] = {{&FakeGraphics::failDxgi, "dxgi"},
               {&FakeGraphics::failDevice, "device"},
               {&FakeGraphics::failD2D, "d2d"},
               {&FakeGraphics::failDWrite, "dwrite"},
               {&FakeGraphics::failWic, "wic"}};
  for (const Case& c : cases) {
    RecordingEnvironment e;
    e.graphics.factory->adapters = {Adapter(L"Radeon", 0x1002, 1)};
    e.graphics.*c.field = E_FAIL;
    BenchmarkSession s;
    StringConsole quiet;
    ScopedConsoleRedirect r(quiet);
    EXPECT_EQ(RunBenchmarkSession(s, e), 0) << c.name;
    EXPECT_EQ(e.calls.back(), "Stop") << c.name;
    EXPECT_EQ(std::count(e.calls.begin(), e.calls.end(), "Submit"), 0) << c.name;
    EXPECT_TRUE(s.ResultsText.empty()) << c.name;
    EXPECT_TRUE(quiet.text().empty()) << c.name;
  }
}

TEST_F(SessionDriverTest, ErrorEscapingTheFirstSeriesStillSubmits) {
  env.series = [](BenchmarkSession& s, const std::wstring& label) {
    s.ResultsText += L"partial\n";
    if (label == L"AVC") throw hresult_error(E_FAIL);
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(env.calls, (Calls{"RoInitialize", "Start", "Driver", "Adapter 4098", "Series AVC", "Submit", "Stop"}));
  EXPECT_NE(env.submitted.find(L"partial"), std::wstring::npos);
}

TEST_F(SessionDriverTest, RoInitializeFailureLeavesBeforeCrashReporting) {
  env.roInitialize = E_OUTOFMEMORY;
  try {
    Run();
    FAIL();
  } catch (const hresult_error& e) {
    EXPECT_EQ(e.code(), E_OUTOFMEMORY);
  }
  EXPECT_EQ(env.calls, (Calls{"RoInitialize"}));
}

// Errors of the adapter report and of the submission reach the outer catch and crash reporting
// still stops; the user and driver reports run before that catch, so theirs leave the session.
TEST_F(SessionDriverTest, ReportAndSubmissionErrorsFollowTheFailureTable) {
  const struct {
    const char* step;
    bool caught;
    Calls calls;
  } cases[] = {
      {"Adapter", true, {"RoInitialize", "Start", "User a@b", "Driver", "Adapter 4098", "Stop"}},
      {"Submit", true,
       {"RoInitialize", "Start", "User a@b", "Driver", "Adapter 4098", "Series AVC", "Series HEVC", "Submit",
        "Stop"}},
      {"User", false, {"RoInitialize", "Start", "User a@b"}},
      {"Driver", false, {"RoInitialize", "Start", "User a@b", "Driver"}},
  };
  for (const auto& c : cases) {
    RecordingEnvironment e;
    e.graphics.factory->adapters = {Adapter(L"Radeon", 0x1002, 1)};
    e.raiseIn = c.step;
    BenchmarkSession s;
    s.UserEmail = L"a@b";
    if (c.caught) {
      EXPECT_EQ(RunBenchmarkSession(s, e), 0) << c.step;
    } else {
      EXPECT_THROW(RunBenchmarkSession(s, e), hresult_error) << c.step;
    }
    EXPECT_EQ(e.calls, c.calls) << c.step;
  }
}

TEST_F(SessionDriverTest, SkippedAdaptersAreReleased) {
  FakeFactory& factory = *env.graphics.factory;
  factory.adapters = {Adapter(L"Intel UHD", 0x8086, 1), Adapter(L"NVIDIA", 0x10DE, 2), Adapter(L"Radeon", 0x1002, 3)};
  Run();
  EXPECT_EQ(factory.aliveAdapters, 1);  // the chosen one, held by the session
  session.Adapter.reset();
  EXPECT_EQ(factory.aliveAdapters, 0);

  // Without an AMD adapter nothing is kept.
  RecordingEnvironment none;
  none.graphics.factory->adapters = {Adapter(L"Intel UHD", 0x8086, 1),
                                     Adapter(L"Software", 0, 0, 0, 0, DXGI_ADAPTER_FLAG_SOFTWARE)};
  BenchmarkSession s;
  RunBenchmarkSession(s, none);
  EXPECT_EQ(none.graphics.factory->aliveAdapters, 0);
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
