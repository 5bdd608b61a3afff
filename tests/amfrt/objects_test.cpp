#include <gtest/gtest.h>

#include <cwchar>
#include <mutex>
#include <string>

#include "platform/graphics.h"
#include "tests/amfrt/runtime_support.h"

namespace {

class ForeignTexture final : public RefCounted<ID3D11Texture2D> {
 public:
  explicit ForeignTexture(DXGI_FORMAT format) { desc_.Width = desc_.Height = 64; desc_.Format = format; }
  void GetDesc(D3D11_TEXTURE2D_DESC* desc) const override { *desc = desc_; }
  std::uint8_t* Pixels() noexcept override { return pixels_; }
  std::uint32_t RowPitch() const noexcept override { return 256; }

 private:
  D3D11_TEXTURE2D_DESC desc_;
  std::uint8_t pixels_[256 * 64] = {};
};

struct ContextRig {
  ContextRig() {
    EXPECT_EQ(CreateCpuDevice(device.put(), deviceContext.put()), S_OK);
    EXPECT_EQ(Runtime().factory->CreateContext(&context), AMF_OK);
  }
  com_ptr<ID3D11Device> device;
  com_ptr<ID3D11DeviceContext> deviceContext;
  amf::AMFContextPtr context;
};

TEST(Factory, CreatesOnlyItsTwoEncoders) {
  ContextRig rig;
  amf::AMFComponent* component = reinterpret_cast<amf::AMFComponent*>(0x1);
  EXPECT_EQ(Runtime().factory->CreateComponent(rig.context.GetPtr(), L"AMFVideoDecoderUVD_H264_AVC", &component),
            AMF_NOT_SUPPORTED);
  EXPECT_EQ(component, nullptr);
  EXPECT_NE(Runtime().factory->CreateComponent(rig.context.GetPtr(), nullptr, &component), AMF_OK);
  EXPECT_EQ(Runtime().factory->CreateComponent(nullptr, AMFVideoEncoderVCE_AVC, &component), AMF_INVALID_ARG);
  for (const wchar_t* id : {AMFVideoEncoderVCE_AVC, AMFVideoEncoder_HEVC}) {
    amf::AMFComponentPtr encoder;
    ASSERT_EQ(Runtime().factory->CreateComponent(rig.context.GetPtr(), id, &encoder), AMF_OK);
    EXPECT_EQ(encoder->GetContext(), rig.context.GetPtr());
  }
}

TEST(Factory, KeepsTheCacheFolderAndHandsOutDebugAndTrace) {
  amf::AMFFactory* factory = Runtime().factory;
  ASSERT_EQ(factory->SetCacheFolder(L"/tmp/amf-cache"), AMF_OK);
  EXPECT_STREQ(factory->GetCacheFolder(), L"/tmp/amf-cache");
  ASSERT_EQ(factory->SetCacheFolder(nullptr), AMF_OK);
  EXPECT_STREQ(factory->GetCacheFolder(), L"");

  amf::AMFDebug* debug = nullptr;
  ASSERT_EQ(factory->GetDebug(&debug), AMF_OK);
  debug->AssertsEnable(true);
  EXPECT_TRUE(debug->AssertsEnabled());
  debug->AssertsEnable(false);
  EXPECT_FALSE(debug->AssertsEnabled());
  amf::AMFTrace* trace = nullptr;
  ASSERT_EQ(factory->GetTrace(&trace), AMF_OK);
  EXPECT_NE(trace, nullptr);
}

TEST(Context, NeedsADeviceBeforeMakingSurfaces) {
  ContextRig rig;
  D3D11_TEXTURE2D_DESC desc;
  desc.Width = 64;
  desc.Height = 32;
  desc.MipLevels = desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  com_ptr<ID3D11Texture2D> texture;
  ASSERT_EQ(rig.device->CreateTexture2D(&desc, nullptr, texture.put()), S_OK);

  amf::AMFSurfacePtr surface;
  EXPECT_NE(rig.context->CreateSurfaceFromDX11Native(texture.get(), &surface, nullptr), AMF_OK);
  EXPECT_EQ(rig.context->InitDX11(nullptr, amf::AMF_DX11_0), AMF_INVALID_ARG);
  ASSERT_EQ(rig.context->InitDX11(rig.device.get(), amf::AMF_DX11_0), AMF_OK);
  EXPECT_EQ(rig.context->GetDX11Device(amf::AMF_DX11_0), rig.device.get());
  EXPECT_EQ(rig.context->CreateSurfaceFromDX11Native(nullptr, &surface, nullptr), AMF_INVALID_ARG);
  ASSERT_EQ(rig.context->CreateSurfaceFromDX11Native(texture.get(), &surface, nullptr), AMF_OK);
  EXPECT_EQ(surface->GetFormat(), amf::AMF_SURFACE_BGRA);
  EXPECT_EQ(surface->GetWidth(), 64);
  EXPECT_EQ(surface->GetHeight(), 32);
}

TEST(Context, RefusesTexturesThatAreNotBgra) {
  ContextRig rig;
  ASSERT_EQ(rig.context->InitDX11(rig.device.get(), amf::AMF_DX11_0), AMF_OK);
  auto* foreign = new ForeignTexture(DXGI_FORMAT_UNKNOWN);
  amf::AMFSurfacePtr surface;
  EXPECT_EQ(rig.context->CreateSurfaceFromDX11Native(foreign, &surface, nullptr), AMF_SURFACE_FORMAT_NOT_SUPPORTED);
  EXPECT_FALSE(surface);
  EXPECT_EQ(foreign->Release(), 0u) << "a refused texture keeps no reference";
}

TEST(Surface, HoldsExactlyOneTextureReferenceAndNotifiesItsObserver) {
  ContextRig rig;
  ASSERT_EQ(rig.context->InitDX11(rig.device.get(), amf::AMF_DX11_0), AMF_OK);
  auto* texture = new ForeignTexture(DXGI_FORMAT_B8G8R8A8_UNORM);
  struct Observer : amf::AMFSurfaceObserver {
    void OnSurfaceDataRelease(amf::AMFSurface* s) override { released = s; }
    amf::AMFSurface* released = nullptr;
  } observer;
  amf::AMFSurface* surface = nullptr;
  ASSERT_EQ(rig.context->CreateSurfaceFromDX11Native(texture, &surface, &observer), AMF_OK);
  EXPECT_EQ(texture->AddRef(), 3u);
  EXPECT_EQ(texture->Release(), 2u);
  EXPECT_EQ(surface->Acquire(), 2);
  EXPECT_EQ(surface->Release(), 1);
  EXPECT_EQ(observer.released, nullptr);
  EXPECT_EQ(surface->Release(), 0);
  EXPECT_EQ(observer.released, surface);
  EXPECT_EQ(texture->Release(), 0u);
}

TEST(Surface, AnswersQueryInterfaceForItsInterfacesOnly) {
  ContextRig rig;
  ASSERT_EQ(rig.context->InitDX11(rig.device.get(), amf::AMF_DX11_0), AMF_OK);
  auto* texture = new ForeignTexture(DXGI_FORMAT_B8G8R8A8_UNORM);
  amf::AMFSurfacePtr surface;
  ASSERT_EQ(rig.context->CreateSurfaceFromDX11Native(texture, &surface, nullptr), AMF_OK);
  texture->Release();
  for (const amf::AMFGuid& iid : {amf::AMFSurface::IID(), amf::AMFData::IID(), amf::AMFPropertyStorage::IID(),
                                  amf::AMFInterface::IID()}) {
    void* out = nullptr;
    ASSERT_EQ(surface->QueryInterface(iid, &out), AMF_OK);
    EXPECT_EQ(out, static_cast<void*>(surface.GetPtr()));
    surface->Release();
  }
  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(surface->QueryInterface(amf::AMFBuffer::IID(), &out), AMF_NO_INTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(surface->QueryInterface(amf::AMFSurface::IID(), nullptr), AMF_INVALID_POINTER);
  EXPECT_EQ(surface->Acquire(), 2) << "no reference leaked by the queries";
  surface->Release();
}

TEST(PropertyStorage, CopiesValuesInAndOut) {
  ContextRig rig;
  amf::AMFBufferPtr buffer;
  ASSERT_EQ(rig.context->AllocBuffer(amf::AMF_MEMORY_HOST, 8, &buffer), AMF_OK);
  EXPECT_EQ(buffer->GetSize(), 8u);

  wchar_t text[] = L"first";
  amf::AMFVariantStruct value;
  amf::AMFVariantInit(&value);
  amf::AMFVariantAssignWString(&value, text);
  ASSERT_EQ(buffer->SetProperty(L"Name", value), AMF_OK);
  amf::AMFVariantClear(&value);  // the storage kept its own copy

  amf::AMFVariantStruct read;
  amf::AMFVariantInit(&read);
  ASSERT_EQ(buffer->GetProperty(L"Name", &read), AMF_OK);
  ASSERT_EQ(read.type, amf::AMF_VARIANT_WSTRING);
  EXPECT_STREQ(read.wstringValue, L"first");
  read.wstringValue[0] = L'F';  // the caller's copy
  amf::AMFVariantClear(&read);
  ASSERT_EQ(buffer->GetProperty(L"Name", &read), AMF_OK);
  EXPECT_STREQ(read.wstringValue, L"first");
  amf::AMFVariantClear(&read);

  EXPECT_EQ(buffer->GetProperty(L"Missing", &read), AMF_NOT_FOUND);
  EXPECT_TRUE(buffer->HasProperty(L"Name"));
  ASSERT_EQ(buffer->SetProperty(L"Other", Int64Value(3)), AMF_OK);
  EXPECT_EQ(buffer->GetPropertyCount(), 2u);
  ASSERT_EQ(buffer->Clear(), AMF_OK);
  EXPECT_EQ(buffer->GetPropertyCount(), 0u);
  EXPECT_FALSE(buffer->HasProperty(L"Name"));
  ASSERT_EQ(buffer->SetProperty(L"Name", Int64Value(4)), AMF_OK);
  EXPECT_EQ(buffer->GetPropertyCount(), 1u);
}

TEST(PropertyStorage, InterfaceValuesHoldAReference) {
  ContextRig rig;
  amf::AMFBufferPtr holder, held;
  ASSERT_EQ(rig.context->AllocBuffer(amf::AMF_MEMORY_HOST, 0, &holder), AMF_OK);
  ASSERT_EQ(rig.context->AllocBuffer(amf::AMF_MEMORY_HOST, 0, &held), AMF_OK);
  amf::AMFVariantStruct value;
  amf::AMFVariantInit(&value);
  amf::AMFVariantAssignInterface(&value, held.GetPtr());
  ASSERT_EQ(holder->SetProperty(L"Ref", value), AMF_OK);
  amf::AMFVariantClear(&value);
  EXPECT_EQ(held->Acquire(), 3);  // ours, the storage's, this one
  held->Release();
  holder.Release();
  EXPECT_EQ(held->Acquire(), 2) << "released with its holder";
  held->Release();
}

class EncoderProperties : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Runtime().factory->CreateComponent(rig_.context.GetPtr(), AMFVideoEncoderVCE_AVC, &avc_), AMF_OK);
    ASSERT_EQ(Runtime().factory->CreateComponent(rig_.context.GetPtr(), AMFVideoEncoder_HEVC, &hevc_), AMF_OK);
  }
  static amf::AMFVariantStruct Read(amf::AMFComponent* c, const wchar_t* name) {
    amf::AMFVariantStruct v;
    amf::AMFVariantInit(&v);
    EXPECT_EQ(c->GetProperty(name, &v), AMF_OK) << "reading back";
    return v;
  }
  ContextRig rig_;
  amf::AMFComponentPtr avc_, hevc_;
};

TEST_F(EncoderProperties, EachEncoderHasOnlyItsOwnNames) {
  EXPECT_EQ(avc_->SetProperty(L"HevcProfile", Int64Value(1)), AMF_NOT_FOUND);
  EXPECT_EQ(hevc_->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(100)), AMF_NOT_FOUND);
  EXPECT_EQ(avc_->SetProperty(L"profile", Int64Value(100)), AMF_NOT_FOUND) << "names are case-sensitive";
  EXPECT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_LOWLATENCY_MODE, BoolValue(true)), AMF_OK);
  EXPECT_EQ(hevc_->SetProperty(AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, Int64Value(1)), AMF_OK);
}

TEST_F(EncoderProperties, ValuesAreConvertedToThePropertysType) {
  ASSERT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_ENFORCE_HRD, Int64Value(0)), AMF_OK);
  amf::AMFVariantStruct v = Read(avc_.GetPtr(), AMF_VIDEO_ENCODER_ENFORCE_HRD);
  EXPECT_EQ(v.type, amf::AMF_VARIANT_BOOL);
  EXPECT_FALSE(v.boolValue);

  ASSERT_EQ(hevc_->SetProperty(AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, Int64Value(1)), AMF_OK);
  v = Read(hevc_.GetPtr(), AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE);
  EXPECT_EQ(v.type, amf::AMF_VARIANT_BOOL);
  EXPECT_TRUE(v.boolValue);

  amf::AMFVariantStruct text;
  amf::AMFVariantInit(&text);
  amf::AMFVariantAssignWString(&text, L"625000");
  ASSERT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_PEAK_BITRATE, text), AMF_OK);
  amf::AMFVariantClear(&text);
  v = Read(avc_.GetPtr(), AMF_VIDEO_ENCODER_PEAK_BITRATE);
  EXPECT_EQ(v.type, amf::AMF_VARIANT_INT64);
  EXPECT_EQ(v.int64Value, 625000);

  ASSERT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_FRAMERATE, Int64Value(144)), AMF_OK);
  v = Read(avc_.GetPtr(), AMF_VIDEO_ENCODER_FRAMERATE);
  EXPECT_EQ(v.type, amf::AMF_VARIANT_RATE);
  EXPECT_EQ(v.rateValue.num, 144u);
  EXPECT_EQ(v.rateValue.den, 1u);
}

TEST_F(EncoderProperties, RefusesValuesOutsideWhatTheEncoderOffers) {
  amf::AMFVariantStruct text;
  amf::AMFVariantInit(&text);
  amf::AMFVariantAssignString(&text, "fast");
  EXPECT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_TARGET_BITRATE, text), AMF_INVALID_DATA_TYPE);
  amf::AMFVariantClear(&text);
  EXPECT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_FRAMERATE, RateValue(60, 0)), AMF_OUT_OF_RANGE);
  EXPECT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(5)), AMF_OUT_OF_RANGE);
  EXPECT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_QUALITY_PRESET, Int64Value(10)), AMF_OUT_OF_RANGE);
  EXPECT_EQ(hevc_->SetProperty(AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, Int64Value(1)), AMF_OUT_OF_RANGE);
  EXPECT_EQ(hevc_->SetProperty(AMF_VIDEO_ENCODER_HEVC_PROFILE, Int64Value(2)), AMF_NOT_SUPPORTED);
  EXPECT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_TARGET_BITRATE, Int64Value(-1)), AMF_OUT_OF_RANGE);
  // A refused value leaves the previous one.
  ASSERT_EQ(avc_->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(100)), AMF_OK);
  EXPECT_NE(avc_->SetProperty(AMF_VIDEO_ENCODER_PROFILE, Int64Value(101)), AMF_OK);
  EXPECT_EQ(Read(avc_.GetPtr(), AMF_VIDEO_ENCODER_PROFILE).int64Value, 100);
}

class RecordingWriter final : public amf::AMFTraceWriter {
 public:
  void Write(const wchar_t* scope, const wchar_t* message) override {
    std::lock_guard lock(mutex);
    lines.push_back(std::wstring(scope) + L"|" + message);
  }
  void Flush() override {}
  bool Saw(const std::wstring& text) {
    std::lock_guard lock(mutex);
    for (const auto& line : lines)
      if (line.find(text) != std::wstring::npos) return true;
    return false;
  }
  std::mutex mutex;
  std::vector<std::wstring> lines;
};

class TraceWriters : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Runtime().factory->GetTrace(&trace_), AMF_OK);
    previousLevel_ = trace_->SetGlobalLevel(amf::AMF_TRACE_TRACE);
    trace_->RegisterWriter(L"Recorder", &writer_, true);
  }
  void TearDown() override {
    trace_->UnregisterWriter(L"Recorder");
    trace_->SetGlobalLevel(previousLevel_);
  }
  amf::AMFTrace* trace_ = nullptr;
  amf::amf_int32 previousLevel_ = 0;
  RecordingWriter writer_;
};

TEST_F(TraceWriters, EncoderInitTellsItsSettingsAndErrorsAreTraced) {
  {
    EncoderRig rig(EncoderConfig{});
    ASSERT_EQ(rig.initResult, AMF_OK);
  }
  EXPECT_TRUE(writer_.Saw(L"AMFVideoEncoderVCE_AVC|")) << "scope";
  EXPECT_TRUE(writer_.Saw(L"libx264 320x180")) << "settings line";
  EXPECT_TRUE(writer_.Saw(L"tune zerolatency"));
  EXPECT_TRUE(writer_.Saw(L"maxrate 625000"));
  EXPECT_TRUE(writer_.Saw(L"keyint=infinite"));

  EncoderRig bad(EncoderConfig{}, /*init=*/false);
  ASSERT_EQ(bad.encoder->Init(amf::AMF_SURFACE_BGRA, 641, 360), AMF_INVALID_RESOLUTION);
  EXPECT_TRUE(writer_.Saw(L"Error: Cannot encode 641x360"));
}

TEST_F(TraceWriters, LevelsAndEnablingFilterLines) {
  amf::AMFTrace* t = trace_;
  t->TraceW(L"", 0, amf::AMF_TRACE_INFO, L"Test", 1, L"visible %d", 1);
  EXPECT_TRUE(writer_.Saw(L"Test|"));
  EXPECT_TRUE(writer_.Saw(L"visible 1"));

  EXPECT_EQ(t->SetWriterLevel(L"Recorder", amf::AMF_TRACE_ERROR), amf::AMF_TRACE_TRACE);
  t->TraceW(L"", 0, amf::AMF_TRACE_INFO, L"Test", 0, L"below the writer level");
  EXPECT_FALSE(writer_.Saw(L"below the writer level"));
  t->TraceW(L"", 0, amf::AMF_TRACE_ERROR, L"Test", 0, L"an error");
  EXPECT_TRUE(writer_.Saw(L"an error"));

  EXPECT_TRUE(t->EnableWriter(L"Recorder", false));
  EXPECT_FALSE(t->WriterEnabled(L"Recorder"));
  t->TraceW(L"", 0, amf::AMF_TRACE_ERROR, L"Test", 0, L"while disabled");
  EXPECT_FALSE(writer_.Saw(L"while disabled"));
  t->EnableWriter(L"Recorder", true);

  t->SetGlobalLevel(amf::AMF_TRACE_WARNING);
  t->TraceW(L"", 0, amf::AMF_TRACE_WARNING + 1, L"Test", 0, L"below the global level");
  EXPECT_FALSE(writer_.Saw(L"below the global level"));
}

TEST_F(TraceWriters, DebugOutputIsBuiltIn) {
  EXPECT_TRUE(trace_->WriterEnabled(L"DebugOutput"));
  const amf::amf_int32 level = trace_->SetWriterLevel(L"DebugOutput", amf::AMF_TRACE_TRACE);
  EXPECT_EQ(trace_->GetWriterLevel(L"DebugOutput"), amf::AMF_TRACE_TRACE);
  trace_->SetWriterLevel(L"DebugOutput", level);
  EXPECT_TRUE(trace_->EnableWriter(L"DebugOutput", true));
  EXPECT_EQ(trace_->GetWriterLevel(L"NoSuchWriter"), -1);
  EXPECT_FALSE(trace_->EnableWriter(L"NoSuchWriter", true));
}

TEST_F(TraceWriters, AssertsReportMisuse) {
  amf::AMFDebug* debug = nullptr;
  ASSERT_EQ(Runtime().factory->GetDebug(&debug), AMF_OK);
  ContextRig rig;
  debug->AssertsEnable(false);
  EXPECT_EQ(rig.context->InitDX11(nullptr, amf::AMF_DX11_0), AMF_INVALID_ARG);
  EXPECT_FALSE(writer_.Saw(L"Assertion failed"));
  debug->AssertsEnable(true);
  EXPECT_EQ(rig.context->InitDX11(nullptr, amf::AMF_DX11_0), AMF_INVALID_ARG);
  debug->AssertsEnable(false);
  EXPECT_TRUE(writer_.Saw(L"Assertion failed: InitDX11 without a device"));
}

}  // namespace
