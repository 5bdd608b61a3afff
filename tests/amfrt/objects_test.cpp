#include <gtest/gtest.h>

#include <string>

#include "platform/graphics.h"
#include "tests/amfrt/runtime_support.h"
#include "tests/fakes/trace_recorder.h"

namespace corvantis {

namespace {

TEST(RuntimeExports, VersionCheckAndOneFactory) {
  amf::amf_uint64 version = 0;
  ASSERT_EQ(Runtime().QueryVersion(&version), AMF_OK);
  EXPECT_EQ(version, amf::AMF_MAKE_FULL_VERSION(1, 4, 18, 0));
  for (amf::amf_uint64 accepted :
       {amf::AMF_FULL_VERSION, version, amf::AMF_MAKE_FULL_VERSION(1, 0, 0, 0)}) {
    amf::AMFFactory* factory = nullptr;
    EXPECT_EQ(Runtime().Init(accepted, &factory), AMF_OK);
    EXPECT_EQ(factory, Runtime().Factory);
  }
  for (amf::amf_uint64 refused :
       {version + 1, amf::AMF_MAKE_FULL_VERSION(1, 5, 0, 0), amf::AMF_MAKE_FULL_VERSION(2, 0, 0, 0),
        amf::AMF_MAKE_FULL_VERSION(0, 9, 0, 0)}) {
    amf::AMFFactory* factory = Runtime().Factory;
    EXPECT_EQ(Runtime().Init(refused, &factory), AMF_NOT_SUPPORTED) << std::hex << refused;
    EXPECT_EQ(factory, nullptr);
  }
  EXPECT_EQ(Runtime().Init(amf::AMF_FULL_VERSION, nullptr), AMF_INVALID_ARG);
  EXPECT_EQ(Runtime().QueryVersion(nullptr), AMF_INVALID_ARG);
}

TEST(Factory, CreatesOnlyItsTwoEncoders) {
  amf::AMFContextPtr context;
  ASSERT_EQ(Runtime().Factory->CreateContext(&context), AMF_OK);
  amf::AMFComponent* component = reinterpret_cast<amf::AMFComponent*>(0x1);
  EXPECT_EQ(Runtime().Factory->CreateComponent(context.GetPtr(), L"AMFVideoDecoderUVD_H264_AVC",
                                               &component),
            AMF_NOT_SUPPORTED);
  EXPECT_EQ(component, nullptr);
  EXPECT_EQ(Runtime().Factory->CreateComponent(nullptr, AMFVideoEncoderVCE_AVC, &component),
            AMF_INVALID_ARG);
  for (const wchar_t* id : {AMFVideoEncoderVCE_AVC, AMFVideoEncoder_HEVC}) {
    amf::AMFComponentPtr encoder;
    ASSERT_EQ(Runtime().Factory->CreateComponent(context.GetPtr(), id, &encoder), AMF_OK);
    EXPECT_EQ(encoder->GetContext(), context.GetPtr());
  }
}

class FakeTexture final : public RefCounted<ID3D11Texture2D> {
 public:
  explicit FakeTexture(DXGI_FORMAT format) {
    desc_.Width = desc_.Height = 16;
    desc_.Format = format;
  }
  void GetDesc(D3D11_TEXTURE2D_DESC* desc) const override { *desc = desc_; }
  std::uint8_t* Pixels() noexcept override { return pixels_; }
  std::uint32_t RowPitch() const noexcept override { return 64; }
  VASurfaceID VideoSurface() const noexcept override { return VA_INVALID_SURFACE; }

 private:
  D3D11_TEXTURE2D_DESC desc_;
  std::uint8_t pixels_[64 * 16] = {};
};

TEST(Surface, FromBgraTexturesOfAnInitialisedContextHoldingOneReference) {
  com_ptr<ID3D11Device> device;
  com_ptr<ID3D11DeviceContext> deviceContext;
  ASSERT_EQ(CreateCpuDevice(device.put(), deviceContext.put()), S_OK);
  amf::AMFContextPtr context;
  ASSERT_EQ(Runtime().Factory->CreateContext(&context), AMF_OK);
  auto* texture = new FakeTexture(DXGI_FORMAT_B8G8R8A8_UNORM);
  amf::AMFSurface* surface = nullptr;
  EXPECT_NE(context->CreateSurfaceFromDX11Native(texture, &surface, nullptr), AMF_OK)
      << "before InitDX11";
  EXPECT_EQ(context->InitDX11(nullptr, amf::AMF_DX11_0), AMF_INVALID_ARG);
  ASSERT_EQ(context->InitDX11(device.get(), amf::AMF_DX11_0), AMF_OK);

  auto* other = new FakeTexture(DXGI_FORMAT_UNKNOWN);
  EXPECT_EQ(context->CreateSurfaceFromDX11Native(other, &surface, nullptr),
            AMF_SURFACE_FORMAT_NOT_SUPPORTED);
  EXPECT_EQ(other->Release(), 0u) << "a refused texture keeps no reference";

  struct Observer : amf::AMFSurfaceObserver {
    void OnSurfaceDataRelease(amf::AMFSurface* s) override { Released = s; }
    amf::AMFSurface* Released = nullptr;
  } observer;
  ASSERT_EQ(context->CreateSurfaceFromDX11Native(texture, &surface, &observer), AMF_OK);
  EXPECT_EQ(surface->GetFormat(), amf::AMF_SURFACE_BGRA);
  EXPECT_EQ(texture->AddRef(), 3u);
  texture->Release();
  void* buffer = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(surface->QueryInterface(amf::AMFBuffer::IID(), &buffer), AMF_NO_INTERFACE);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(surface->Release(), 0);
  EXPECT_EQ(observer.Released, surface);
  EXPECT_EQ(texture->Release(), 0u) << "the surface gave its reference back";
}

TEST(PropertyStorage, CopiesValuesInAndOut) {
  amf::AMFContextPtr context;
  ASSERT_EQ(Runtime().Factory->CreateContext(&context), AMF_OK);
  amf::AMFBufferPtr buffer;
  ASSERT_EQ(context->AllocBuffer(amf::AMF_MEMORY_HOST, 8, &buffer), AMF_OK);
  amf::AMFVariantStruct value;
  amf::AMFVariantInit(&value);
  amf::AMFVariantAssignWString(&value, L"first");
  ASSERT_EQ(buffer->SetProperty(L"Name", value), AMF_OK);
  value.wstringValue[0] = L'F';  // the caller's own copy
  ASSERT_EQ(buffer->GetProperty(L"Name", &value), AMF_OK);
  EXPECT_STREQ(value.wstringValue, L"first");
  amf::AMFVariantClear(&value);
  EXPECT_EQ(buffer->GetProperty(L"Missing", &value), AMF_NOT_FOUND);
  ASSERT_EQ(buffer->Clear(), AMF_OK);
  EXPECT_FALSE(buffer->HasProperty(L"Name"));
  ASSERT_EQ(buffer->SetProperty(L"Name", Int64Value(4)), AMF_OK);
  EXPECT_EQ(buffer->GetPropertyCount(), 1u);
}

TEST(EncoderProperties, ConvertedToTheirTypeOrRefused) {
  amf::AMFContextPtr context;
  amf::AMFComponentPtr avc, hevc;
  ASSERT_EQ(Runtime().Factory->CreateContext(&context), AMF_OK);
  ASSERT_EQ(Runtime().Factory->CreateComponent(context.GetPtr(), AMFVideoEncoderVCE_AVC, &avc),
            AMF_OK);
  ASSERT_EQ(Runtime().Factory->CreateComponent(context.GetPtr(), AMFVideoEncoder_HEVC, &hevc),
            AMF_OK);
  auto read = [](amf::AMFComponent* c, const wchar_t* name) {
    amf::AMFVariantStruct v;
    amf::AMFVariantInit(&v);
    EXPECT_EQ(c->GetProperty(name, &v), AMF_OK);
    return v;
  };
  ASSERT_EQ(hevc->SetProperty(AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, Int64Value(1)), AMF_OK);
  const amf::AMFVariantStruct lowLatency =
      read(hevc.GetPtr(), AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE);
  EXPECT_EQ(lowLatency.type, amf::AMF_VARIANT_BOOL);
  EXPECT_TRUE(lowLatency.boolValue);
  ASSERT_EQ(avc->SetProperty(AMF_VIDEO_ENCODER_FRAMERATE, Int64Value(144)), AMF_OK);
  const amf::AMFVariantStruct rate = read(avc.GetPtr(), AMF_VIDEO_ENCODER_FRAMERATE);
  EXPECT_EQ(rate.type, amf::AMF_VARIANT_RATE);
  EXPECT_EQ(rate.rateValue.num, 144u);
  EXPECT_EQ(rate.rateValue.den, 1u);

  EXPECT_EQ(avc->SetProperty(L"HevcProfile", Int64Value(1)), AMF_NOT_FOUND);
  EXPECT_EQ(hevc->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(100)), AMF_NOT_FOUND);
  amf::AMFVariantStruct text;
  amf::AMFVariantInit(&text);
  amf::AMFVariantAssignString(&text, "fast");
  EXPECT_EQ(avc->SetProperty(AMF_VIDEO_ENCODER_TARGET_BITRATE, text), AMF_INVALID_DATA_TYPE);
  amf::AMFVariantClear(&text);
  EXPECT_EQ(avc->SetProperty(AMF_VIDEO_ENCODER_FRAMERATE, RateValue(60, 0)), AMF_OUT_OF_RANGE);
  EXPECT_EQ(hevc->SetProperty(AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, Int64Value(1)),
            AMF_OUT_OF_RANGE);
  EXPECT_EQ(hevc->SetProperty(AMF_VIDEO_ENCODER_HEVC_PROFILE, Int64Value(2)), AMF_NOT_SUPPORTED);
  ASSERT_EQ(avc->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(100)), AMF_OK);
  EXPECT_EQ(avc->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(101)), AMF_OUT_OF_RANGE);
  EXPECT_EQ(read(avc.GetPtr(), AMF_VIDEO_ENCODER_PROFILE).int64Value, 100)
      << "a refused value leaves the old one";
}

// The recorder sees every line at trace level; the global level is put back after each test.
class TraceWriters : public ::testing::Test {
 protected:
  ~TraceWriters() override { trace_->SetGlobalLevel(previousLevel_); }
  amf::AMFTrace* const trace_ = Runtime().Trace;
  const amf::amf_int32 previousLevel_ = trace_->SetGlobalLevel(amf::AMF_TRACE_TRACE);
  fakes::TraceRecorder writer_{trace_, L"Recorder"};
};

TEST_F(TraceWriters, EncoderInitTellsItsSettingsAndErrorsAreTraced) {
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  for (const wchar_t* part : {L"AMFVideoEncoderVCE_AVC|", L"libx264 320x180", L"tune zerolatency",
                              L"maxrate 625000", L"keyint=infinite"})
    EXPECT_TRUE(writer_.Saw(part))
        << "init line with " << testing::PrintToString(std::wstring(part));
  ASSERT_EQ(rig.Encoder->Terminate(), AMF_OK);
  ASSERT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 641, 360), AMF_INVALID_RESOLUTION);
  EXPECT_TRUE(writer_.Saw(L"Error: Cannot encode 641x360"));
}

TEST_F(TraceWriters, LevelsEnablingAndAsserts) {
  trace_->TraceW(L"", 0, amf::AMF_TRACE_INFO, L"Test", 1, L"visible %d", 1);
  EXPECT_TRUE(writer_.Saw(L"Test|"));
  EXPECT_TRUE(writer_.Saw(L"visible 1"));
  EXPECT_EQ(trace_->SetWriterLevel(L"Recorder", amf::AMF_TRACE_ERROR), amf::AMF_TRACE_TRACE);
  trace_->TraceW(L"", 0, amf::AMF_TRACE_INFO, L"Test", 0, L"below the writer level");
  EXPECT_FALSE(writer_.Saw(L"below the writer level"));
  EXPECT_TRUE(trace_->EnableWriter(L"Recorder", false));
  trace_->TraceW(L"", 0, amf::AMF_TRACE_ERROR, L"Test", 0, L"while disabled");
  EXPECT_FALSE(writer_.Saw(L"while disabled"));
  trace_->EnableWriter(L"Recorder", true);
  trace_->SetGlobalLevel(amf::AMF_TRACE_WARNING);
  trace_->TraceW(L"", 0, amf::AMF_TRACE_ERROR, L"Test", 0, L"an error");
  EXPECT_TRUE(writer_.Saw(L"an error"));
  EXPECT_TRUE(trace_->WriterEnabled(L"DebugOutput"));

  amf::AMFDebug* debug = nullptr;
  ASSERT_EQ(Runtime().Factory->GetDebug(&debug), AMF_OK);
  amf::AMFContextPtr context;
  ASSERT_EQ(Runtime().Factory->CreateContext(&context), AMF_OK);
  context->InitDX11(nullptr, amf::AMF_DX11_0);
  EXPECT_FALSE(writer_.Saw(L"Assertion failed"));
  debug->AssertsEnable(true);
  context->InitDX11(nullptr, amf::AMF_DX11_0);
  debug->AssertsEnable(false);
  EXPECT_TRUE(writer_.Saw(L"Assertion failed: InitDX11 without a device"));
}

}  // namespace

}  // namespace corvantis
