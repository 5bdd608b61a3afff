#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "amf/encoder_config.h"
#include "tests/fakes/raised_code.h"
#include "platform/console.h"
#include "platform/hresult_error.h"

namespace corvantis {

namespace {

struct SetCall {
  std::wstring name;
  amf::AMF_VARIANT_TYPE type;
  std::int64_t value;  // INT64 and BOOL
  amf::AMFRate rate;
};

// Records the configuration it receives; Init answers from a script.
class RecordingComponent final : public amf::AMFComponent {
 public:
  amf::amf_long Acquire() override { return ++refs; }
  amf::amf_long Release() override { return --refs; }
  AMF_RESULT QueryInterface(const amf::AMFGuid&, void**) override { return AMF_NO_INTERFACE; }
  AMF_RESULT SetProperty(const wchar_t* name, amf::AMFVariantStruct v) override {
    SetCall c{name, v.type, 0, {0, 0}};
    if (v.type == amf::AMF_VARIANT_INT64) c.value = v.int64Value;
    if (v.type == amf::AMF_VARIANT_BOOL) c.value = v.boolValue ? 1 : 0;
    if (v.type == amf::AMF_VARIANT_RATE) c.rate = v.rateValue;
    sets.push_back(c);
    log.push_back(L"Set " + c.name);
    return failSetOn == name ? AMF_INVALID_ARG : AMF_OK;
  }
  AMF_RESULT GetProperty(const wchar_t*, amf::AMFVariantStruct*) const override { return AMF_NOT_FOUND; }
  bool HasProperty(const wchar_t*) const override { return false; }
  amf::amf_size GetPropertyCount() const override { return 0; }
  AMF_RESULT Clear() override { return AMF_OK; }
  AMF_RESULT Init(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width, amf::amf_int32 height) override {
    log.push_back(L"Init " + std::to_wstring(format) + L" " + std::to_wstring(width) + L"x" +
                  std::to_wstring(height));
    if (initResults.empty()) return AMF_OK;
    const AMF_RESULT r = initResults.front();
    initResults.pop_front();
    return r;
  }
  AMF_RESULT ReInit(amf::amf_int32, amf::amf_int32) override { return AMF_OK; }
  AMF_RESULT Terminate() override { return AMF_OK; }
  AMF_RESULT Drain() override { return AMF_OK; }
  AMF_RESULT Flush() override { return AMF_OK; }
  AMF_RESULT SubmitInput(amf::AMFData*) override { return AMF_OK; }
  AMF_RESULT QueryOutput(amf::AMFData**) override { return AMF_REPEAT; }
  amf::AMFContext* GetContext() override { return nullptr; }

  int refs = 0;
  std::vector<SetCall> sets;
  std::vector<std::wstring> log;
  std::deque<AMF_RESULT> initResults;
  std::wstring failSetOn;
};

class RecordingFactory final : public amf::AMFFactory {
 public:
  AMF_RESULT CreateContext(amf::AMFContext**) override { return AMF_NOT_IMPLEMENTED; }
  AMF_RESULT CreateComponent(amf::AMFContext*, const wchar_t* id, amf::AMFComponent** out) override {
    ids.push_back(id);
    if (createResult != AMF_OK) return createResult;
    component.Acquire();
    *out = &component;
    return AMF_OK;
  }
  AMF_RESULT SetCacheFolder(const wchar_t*) override { return AMF_OK; }
  const wchar_t* GetCacheFolder() override { return L""; }
  AMF_RESULT GetDebug(amf::AMFDebug**) override { return AMF_NOT_IMPLEMENTED; }
  AMF_RESULT GetTrace(amf::AMFTrace**) override { return AMF_NOT_IMPLEMENTED; }

  RecordingComponent component;
  std::vector<std::wstring> ids;
  AMF_RESULT createResult = AMF_OK;
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
  EXPECT_EQ(factory.ids, (std::vector<std::wstring>{L"AMFVideoEncoderVCE_AVC"}));
  const auto& s = factory.component.sets;
  ASSERT_EQ(s.size(), 10u);
  const std::vector<std::wstring> names = {L"FrameRate", L"Profile", L"LowLatencyInternal",
                                           L"RateControlMethod", L"TargetBitrate", L"PeakBitrate",
                                           L"EnforceHRD", L"IDRPeriod", L"BPicturesPattern",
                                           L"QualityPreset"};
  const std::vector<std::int64_t> values = {0, 100, 1, 3, 500000, 625000, 0, 0, 0, 1};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(s[i].name, names[i]);
    if (i > 0) {
      EXPECT_EQ(s[i].value, values[i]) << names[i];
    }
  }
  EXPECT_EQ(s[0].type, amf::AMF_VARIANT_RATE);
  EXPECT_EQ(s[0].rate.num, 144u);
  EXPECT_EQ(s[0].rate.den, 1u);
  EXPECT_EQ(s[2].type, amf::AMF_VARIANT_BOOL);
  EXPECT_EQ(s[6].type, amf::AMF_VARIANT_INT64);  // EnforceHRD is an integer, not a flag
  EXPECT_EQ(factory.component.log.back(), L"Init 3 1920x1080");
  EXPECT_TRUE(console.text().empty());
  EXPECT_EQ(component.GetPtr(), &factory.component);
}

TEST_F(EncoderConfigTest, HevcPropertiesInOrderWithTheirTypes) {
  ConfigureHevcEncoder(&factory, nullptr, component, ClipScenario{3840, 2160, 60, 1, 30}, 500000);
  EXPECT_EQ(factory.ids, (std::vector<std::wstring>{L"AMFVideoEncoderHW_HEVC"}));
  const auto& s = factory.component.sets;
  ASSERT_EQ(s.size(), 11u);
  const std::vector<std::wstring> names = {
      L"HevcFrameRate",   L"HevcProfile",       L"HevcTier",        L"LowLatencyInternal",
      L"HevcRateControlMethod", L"HevcTargetBitrate", L"HevcPeakBitrate", L"HevcEnforceHRD",
      L"HevcGOPSPerIDR",  L"HevcGOPSize",       L"HevcQualityPreset"};
  const std::vector<std::int64_t> values = {0, 1, 0, 1, 1, 500000, 625000, 0, 1, 0, 10};
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(s[i].name, names[i]);
    if (i > 0) {
      EXPECT_EQ(s[i].type, amf::AMF_VARIANT_INT64) << names[i];
      EXPECT_EQ(s[i].value, values[i]) << names[i];
    }
  }
  EXPECT_EQ(s[0].rate.num, 60u);
  EXPECT_EQ(factory.component.log.back(), L"Init 3 3840x2160");
}

TEST_F(EncoderConfigTest, PeakRateWrapsInUnsigned32Bits) {
  EXPECT_EQ(PeakBitrate(500000), 625000u);
  EXPECT_EQ(PeakBitrate(1), 1u);
  EXPECT_EQ(PeakBitrate(0), 0u);
  EXPECT_EQ(PeakBitrate(0x40000000u), 0x40000000u / 4u);  // 5 * 2^30 wraps to 2^30
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 1);
  EXPECT_EQ(factory.component.sets[5].value, 1);
}

TEST_F(EncoderConfigTest, AvcRetriesOnceWithoutLowLatency) {
  factory.component.initResults = {AMF_ENCODER_NOT_PRESENT, AMF_OK};
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000);
  EXPECT_EQ(console.text(), L"AMF component intiialization failure, InitResult 36\n");
  const auto& log = factory.component.log;
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], L"Init 3 1920x1080");
  EXPECT_EQ(log[log.size() - 2], L"Set LowLatencyInternal");
  EXPECT_EQ(factory.component.sets.back().value, 0);
  EXPECT_EQ(factory.component.sets.back().type, amf::AMF_VARIANT_BOOL);
}

TEST_F(EncoderConfigTest, AvcSecondNotPresentRaises) {
  factory.component.initResults = {AMF_ENCODER_NOT_PRESENT, AMF_ENCODER_NOT_PRESENT};
  EXPECT_EQ(RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
            0xC14D0024u);
  EXPECT_EQ(console.text(), L"AMF component intiialization failure, InitResult 36\n");
}

TEST_F(EncoderConfigTest, OtherInitFailuresRaiseAtOnce) {
  factory.component.initResults = {AMF_INVALID_RESOLUTION};
  EXPECT_EQ(RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
            0xC14D001Du);
  EXPECT_TRUE(console.text().empty());
  RecordingFactory hevc;
  hevc.component.initResults = {AMF_ENCODER_NOT_PRESENT};
  amf::AMFComponentPtr other;
  EXPECT_EQ(RaisedCode([&] { ConfigureHevcEncoder(&hevc, nullptr, other, k1080p144, 500000); }),
            0xC14D0024u);
  EXPECT_TRUE(console.text().empty());
  EXPECT_EQ(std::count_if(hevc.component.log.begin(), hevc.component.log.end(),
                          [](const std::wstring& l) { return l.rfind(L"Init", 0) == 0; }),
            1);
}

TEST_F(EncoderConfigTest, FailuresKeepTheComponentForTheCaller) {
  factory.component.failSetOn = L"PeakBitrate";
  EXPECT_EQ(RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
            0xC14D0004u);
  EXPECT_EQ(factory.component.sets.size(), 6u);  // nothing after the failing property
  EXPECT_EQ(component.GetPtr(), &factory.component);
  component.Release();
  EXPECT_EQ(factory.component.refs, 0);

  factory.createResult = AMF_NOT_SUPPORTED;
  EXPECT_EQ(RaisedCode([&] { ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000); }),
            0xC14D000Au);
  EXPECT_FALSE(component);
}

TEST_F(EncoderConfigTest, AnEarlierComponentIsReleasedFirst) {
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000);
  EXPECT_EQ(factory.component.refs, 1);
  ConfigureAvcEncoder(&factory, nullptr, component, k1080p144, 500000);
  EXPECT_EQ(factory.component.refs, 1);
}

}  // namespace

}  // namespace corvantis
