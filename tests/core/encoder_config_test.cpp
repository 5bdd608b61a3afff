#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "amf/encoder_config.h"
#include "platform/console.h"
#include "platform/hresult_error.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

struct SetCall {
  std::wstring Name;
  amf::AMF_VARIANT_TYPE Type;
  std::int64_t Value;  // INT64 and BOOL
  amf::AMFRate Rate;
};

// Records the configuration it receives; Init answers from a script.
class RecordingComponent final : public amf::AMFComponent {
 public:
  amf::amf_long Acquire() override { return ++Refs; }
  amf::amf_long Release() override { return --Refs; }
  AMF_RESULT QueryInterface(const amf::AMFGuid&, void**) override { return AMF_NO_INTERFACE; }
  AMF_RESULT SetProperty(const wchar_t* name, amf::AMFVariantStruct v) override {
    SetCall c{name, v.type, 0, {0, 0}};
    if (v.type == amf::AMF_VARIANT_INT64) c.Value = v.int64Value;
    if (v.type == amf::AMF_VARIANT_BOOL) c.Value = v.boolValue ? 1 : 0;
    if (v.type == amf::AMF_VARIANT_RATE) c.Rate = v.rateValue;
    Sets.push_back(c);
    Log.push_back(L"Set " + c.Name);
    return FailSetOn == name ? AMF_INVALID_ARG : AMF_OK;
  }
  AMF_RESULT GetProperty(const wchar_t*, amf::AMFVariantStruct*) const override {
    return AMF_NOT_FOUND;
  }
  bool HasProperty(const wchar_t*) const override { return false; }
  amf::amf_size GetPropertyCount() const override { return 0; }
  AMF_RESULT Clear() override { return AMF_OK; }
  AMF_RESULT Init(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width,
                  amf::amf_int32 height) override {
    Log.push_back(L"Init " + std::to_wstring(format) + L" " + std::to_wstring(width) + L"x" +
                  std::to_wstring(height));
    if (InitResults.empty()) return AMF_OK;
    const AMF_RESULT r = InitResults.front();
    InitResults.pop_front();
    return r;
  }
  AMF_RESULT ReInit(amf::amf_int32, amf::amf_int32) override { return AMF_OK; }
  AMF_RESULT Terminate() override { return AMF_OK; }
  AMF_RESULT Drain() override { return AMF_OK; }
  AMF_RESULT Flush() override { return AMF_OK; }
  AMF_RESULT SubmitInput(amf::AMFData*) override { return AMF_OK; }
  AMF_RESULT QueryOutput(amf::AMFData**) override { return AMF_REPEAT; }
  amf::AMFContext* GetContext() override { return nullptr; }

  int Refs = 0;
  std::vector<SetCall> Sets;
  std::vector<std::wstring> Log;
  std::deque<AMF_RESULT> InitResults;
  std::wstring FailSetOn;
};

class RecordingFactory final : public amf::AMFFactory {
 public:
  AMF_RESULT CreateContext(amf::AMFContext**) override { return AMF_NOT_IMPLEMENTED; }
  AMF_RESULT CreateComponent(amf::AMFContext*, const wchar_t* id,
                             amf::AMFComponent** out) override {
    Ids.push_back(id);
    if (CreateResult != AMF_OK) return CreateResult;
    Component.Acquire();
    *out = &Component;
    return AMF_OK;
  }
  AMF_RESULT SetCacheFolder(const wchar_t*) override { return AMF_OK; }
  const wchar_t* GetCacheFolder() override { return L""; }
  AMF_RESULT GetDebug(amf::AMFDebug**) override { return AMF_NOT_IMPLEMENTED; }
  AMF_RESULT GetTrace(amf::AMFTrace**) override { return AMF_NOT_IMPLEMENTED; }

  RecordingComponent Component;
  std::vector<std::wstring> Ids;
  AMF_RESULT CreateResult = AMF_OK;
};

constexpr ClipScenario k1080p144{1920, 1080, 144, 1, 30};

class EncoderConfigTest : public ::testing::Test {
 protected:
  EncoderConfigTest() : redirect_(console) {}
  StringConsole console;
  ScopedConsoleRedirect redirect_;
  RecordingFactory factory;
  amf::AMFComponentPtr component;
};

TEST_F(EncoderConfigTest, AvcPropertiesInOrderWithTheirTypes) {
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000);
  EXPECT_EQ(factory.Ids, (std::vector<std::wstring>{L"AMFVideoEncoderVCE_AVC"}));
  const auto& s = factory.Component.Sets;
  ASSERT_EQ(s.size(), 10u);
  const std::vector<std::wstring> names = {
      L"FrameRate",   L"Profile",    L"LowLatencyInternal", L"RateControlMethod", L"TargetBitrate",
      L"PeakBitrate", L"EnforceHRD", L"IDRPeriod",          L"BPicturesPattern",  L"QualityPreset"};
  const std::vector<std::int64_t> values = {0, 100, 1, 3, 500000, 625000, 0, 0, 0, 1};
  // Low latency is the one flag; EnforceHRD, for one, is an integer.
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(s[i].Name, names[i]);
    EXPECT_EQ(s[i].Type, i == 0   ? amf::AMF_VARIANT_RATE
                         : i == 2 ? amf::AMF_VARIANT_BOOL
                                  : amf::AMF_VARIANT_INT64)
        << names[i];
    if (i > 0) {
      EXPECT_EQ(s[i].Value, values[i]) << names[i];
    }
  }
  EXPECT_EQ(s[0].Rate.num, 144u);
  EXPECT_EQ(s[0].Rate.den, 1u);
  EXPECT_EQ(factory.Component.Log.back(), L"Init 3 1920x1080");
  EXPECT_TRUE(console.Text().empty());
  EXPECT_EQ(component.GetPtr(), &factory.Component);
  // Configured again, the earlier component is released first.
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000);
  EXPECT_EQ(factory.Component.Refs, 1);
}

TEST_F(EncoderConfigTest, HevcPropertiesInOrderWithTheirTypes) {
  ConfigureHevcEncoder(&factory, nullptr, component, ClipScenario{3840, 2160, 60, 1, 30}, 500000);
  EXPECT_EQ(factory.Ids, (std::vector<std::wstring>{L"AMFVideoEncoderHW_HEVC"}));
  const auto& s = factory.Component.Sets;
  ASSERT_EQ(s.size(), 11u);
  const std::vector<std::wstring> names = {
      L"HevcFrameRate",         L"HevcProfile",       L"HevcTier",         L"LowLatencyInternal",
      L"HevcRateControlMethod", L"HevcTargetBitrate", L"HevcPeakBitrate",  L"HevcEnforceHRD",
      L"HevcGOPSPerIDR",        L"HevcGOPSize",       L"HevcQualityPreset"};
  const std::vector<std::int64_t> values = {0, 1, 0, 1, 1, 500000, 625000, 0, 1, 0, 10};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(s[i].Name, names[i]);
    if (i > 0) {
      EXPECT_EQ(s[i].Type, amf::AMF_VARIANT_INT64) << names[i];
      EXPECT_EQ(s[i].Value, values[i]) << names[i];
    }
  }
  EXPECT_EQ(s[0].Type, amf::AMF_VARIANT_RATE);
  EXPECT_EQ(s[0].Rate.num, 60u);
  EXPECT_EQ(factory.Component.Log.back(), L"Init 3 3840x2160");
}

TEST_F(EncoderConfigTest, PeakRateWrapsInUnsigned32Bits) {
  EXPECT_EQ(PeakBitrate(500000), 625000u);
  EXPECT_EQ(PeakBitrate(1), 1u);
  EXPECT_EQ(PeakBitrate(0), 0u);
  EXPECT_EQ(PeakBitrate(0x40000000u), 0x40000000u / 4u);  // 5 * 2^30 wraps to 2^30
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 1);
  EXPECT_EQ(factory.Component.Sets[5].Value, 1);
}

// Once, and a second "not present" raises.
TEST_F(EncoderConfigTest, AvcRetriesOnceWithoutLowLatency) {
  factory.Component.InitResults = {AMF_ENCODER_NOT_PRESENT, AMF_OK, AMF_ENCODER_NOT_PRESENT,
                                   AMF_ENCODER_NOT_PRESENT};
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000);
  const std::wstring notice = L"AMF component intiialization failure, InitResult 36\n";
  EXPECT_EQ(console.Text(), notice);
  const auto& log = factory.Component.Log;
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], L"Init 3 1920x1080");
  EXPECT_EQ(log[log.size() - 2], L"Set LowLatencyInternal");
  EXPECT_EQ(factory.Component.Sets.back().Value, 0);
  EXPECT_EQ(factory.Component.Sets.back().Type, amf::AMF_VARIANT_BOOL);

  EXPECT_EQ(
      RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
      0xC14D0024u);
  EXPECT_EQ(console.Text(), notice + notice);
}

TEST_F(EncoderConfigTest, OtherInitFailuresRaiseAtOnce) {
  factory.Component.InitResults = {AMF_INVALID_RESOLUTION};
  EXPECT_EQ(
      RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
      0xC14D001Du);
  EXPECT_TRUE(console.Text().empty());
  RecordingFactory hevc;
  hevc.Component.InitResults = {AMF_ENCODER_NOT_PRESENT};
  amf::AMFComponentPtr other;
  EXPECT_EQ(RaisedCode([&] { ConfigureHevcEncoder(&hevc, nullptr, other, k1080p144, 500000); }),
            0xC14D0024u);
  EXPECT_TRUE(console.Text().empty());
  EXPECT_EQ(std::count_if(hevc.Component.Log.begin(), hevc.Component.Log.end(),
                          [](const std::wstring& l) { return l.rfind(L"Init", 0) == 0; }),
            1);
}

TEST_F(EncoderConfigTest, FailuresKeepTheComponentForTheCaller) {
  factory.Component.FailSetOn = L"PeakBitrate";
  EXPECT_EQ(
      RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
      0xC14D0004u);
  EXPECT_EQ(factory.Component.Sets.size(), 6u);  // nothing after the failing property
  EXPECT_EQ(component.GetPtr(), &factory.Component);
  component.Release();
  EXPECT_EQ(factory.Component.Refs, 0);

  factory.CreateResult = AMF_NOT_SUPPORTED;
  EXPECT_EQ(
      RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
      0xC14D000Au);
  EXPECT_FALSE(component);
}

}  // namespace

}  // namespace corvantis
