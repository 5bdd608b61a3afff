#pragma once
#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "amf/api/interfaces.h"
#include "platform/com_ptr.h"
#include "platform/d3d11.h"
#include "tests/fakes/call_log.h"
#include "tests/fakes/fake_clock.h"

namespace corvantis {

// Scripted stand-ins for the encoder runtime's objects. The fakes are owned by the test (or by
// the fake that made them), never deleted by Release, so reference counts stay readable after
// the code under test has let go of them.
namespace fakes {

struct PropertySet {
  std::wstring Name;
  amf::AMF_VARIANT_TYPE Type;
  std::int64_t Value;  // INT64 and BOOL values; 0 for other types
};

// Reference counting that only counts, with a hook for the last Release.
template <typename Interface>
class Counted : public Interface {
 public:
  amf::amf_long Acquire() override { return ++refs_; }
  amf::amf_long Release() override {
    const amf::amf_long left = --refs_;
    if (left == 0) OnFinalRelease();
    return left;
  }
  amf::amf_long Refs() const { return refs_; }

 protected:
  virtual void OnFinalRelease() {}
  // The interfaces (by IID) that QueryInterface hands out as `this`.
  AMF_RESULT QueryAs(const amf::AMFGuid& iid, std::initializer_list<amf::AMFGuid> supported,
                     void** out) {
    *out = nullptr;
    for (const amf::AMFGuid& id : supported)
      if (id == iid) {
        Acquire();
        *out = static_cast<Interface*>(this);
        return AMF_OK;
      }
    return AMF_NO_INTERFACE;
  }

 private:
  amf::amf_long refs_ = 1;
};

// Property storage that keeps whole numbers and records every set in order.
template <typename Interface>
class Properties : public Counted<Interface> {
 public:
  AMF_RESULT SetProperty(const wchar_t* name, amf::AMFVariantStruct value) override {
    const auto failing = FailingProperties.find(name);
    if (failing != FailingProperties.end()) return failing->second;
    std::int64_t number = 0;
    if (value.type == amf::AMF_VARIANT_INT64) number = value.int64Value;
    if (value.type == amf::AMF_VARIANT_BOOL) number = value.boolValue ? 1 : 0;
    Sets.push_back(PropertySet{name, value.type, number});
    values_[name] = number;
    return AMF_OK;
  }
  AMF_RESULT GetProperty(const wchar_t* name, amf::AMFVariantStruct* value) const override {
    const auto found = values_.find(name);
    if (found == values_.end()) return AMF_NOT_FOUND;
    value->type = amf::AMF_VARIANT_INT64;
    value->int64Value = found->second;
    return AMF_OK;
  }
  bool HasProperty(const wchar_t* name) const override { return values_.count(name) != 0; }
  amf::amf_size GetPropertyCount() const override { return values_.size(); }
  AMF_RESULT Clear() override {
    values_.clear();
    return AMF_OK;
  }

  void Store(const std::wstring& name, std::int64_t value) { values_[name] = value; }

  std::vector<PropertySet> Sets;
  std::map<std::wstring, AMF_RESULT> FailingProperties;

 private:
  std::map<std::wstring, std::int64_t> values_;
};

template <typename Interface>
class FakeDataBase : public Properties<Interface> {
 public:
  amf::AMF_MEMORY_TYPE GetMemoryType() override { return amf::AMF_MEMORY_HOST; }
  bool IsReusable() override { return false; }
  void SetPts(amf::amf_pts pts) override { Pts = pts; }
  amf::amf_pts GetPts() override { return Pts; }
  void SetDuration(amf::amf_pts duration) override { Duration = duration; }
  amf::amf_pts GetDuration() override { return Duration; }

  amf::amf_pts Pts = -1;
  amf::amf_pts Duration = -1;
};

// An output that is data but not a buffer.
class FakeData final : public FakeDataBase<amf::AMFData> {
 public:
  amf::AMF_DATA_TYPE GetDataType() override { return amf::AMF_DATA_USER; }
  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override {
    return QueryAs(iid, {amf::AMFInterface::IID(), amf::AMFData::IID()}, out);
  }
};

class FakeBuffer final : public FakeDataBase<amf::AMFBuffer> {
 public:
  explicit FakeBuffer(std::vector<std::uint8_t> bytes) : Bytes(std::move(bytes)) {}
  amf::AMF_DATA_TYPE GetDataType() override { return amf::AMF_DATA_BUFFER; }
  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override {
    return QueryAs(iid, {amf::AMFInterface::IID(), amf::AMFData::IID(), amf::AMFBuffer::IID()},
                   out);
  }
  AMF_RESULT SetSize(amf::amf_size size) override {
    Bytes.resize(size);
    return AMF_OK;
  }
  amf::amf_size GetSize() override { return Bytes.size(); }
  void* GetNative() override { return Bytes.data(); }

  std::vector<std::uint8_t> Bytes;
};

// A surface over a texture; like the runtime's, it holds the texture until its last Release.
class FakeSurface final : public FakeDataBase<amf::AMFSurface> {
 public:
  explicit FakeSurface(ID3D11Texture2D* texture)
      : Texture(texture), texture_(com_ptr<ID3D11Texture2D>::copy_from(texture)) {}
  ID3D11Texture2D* const Texture;  // for identification only

  amf::AMF_DATA_TYPE GetDataType() override { return amf::AMF_DATA_SURFACE; }
  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override {
    return QueryAs(iid, {amf::AMFInterface::IID(), amf::AMFData::IID(), amf::AMFSurface::IID()},
                   out);
  }
  amf::AMF_SURFACE_FORMAT GetFormat() override { return amf::AMF_SURFACE_BGRA; }
  amf::amf_int32 GetWidth() override { return static_cast<amf::amf_int32>(Desc().Width); }
  amf::amf_int32 GetHeight() override { return static_cast<amf::amf_int32>(Desc().Height); }

  // The properties set since the previous call.
  std::vector<PropertySet> TakeNewSets() {
    std::vector<PropertySet> fresh(Sets.begin() + static_cast<std::ptrdiff_t>(taken_), Sets.end());
    taken_ = Sets.size();
    return fresh;
  }

 private:
  void OnFinalRelease() override { texture_.reset(); }
  D3D11_TEXTURE2D_DESC Desc() const {
    D3D11_TEXTURE2D_DESC desc;
    if (Texture != nullptr) Texture->GetDesc(&desc);
    return desc;
  }
  com_ptr<ID3D11Texture2D> texture_;
  std::size_t taken_ = 0;
};

class FakeContext final : public Properties<amf::AMFContext> {
 public:
  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override {
    return QueryAs(iid, {amf::AMFInterface::IID(), amf::AMFContext::IID()}, out);
  }
  AMF_RESULT Terminate() override {
    ++TerminateCalls;
    return AMF_OK;
  }
  AMF_RESULT InitDX11(void* device, amf::AMF_DX_VERSION version) override {
    InitDevice = device;
    InitVersion = version;
    ++InitCalls;
    return InitDX11Result;
  }
  void* GetDX11Device(amf::AMF_DX_VERSION) override { return InitDevice; }
  AMF_RESULT LockDX11() override { return AMF_OK; }
  AMF_RESULT UnlockDX11() override { return AMF_OK; }
  AMF_RESULT AllocBuffer(amf::AMF_MEMORY_TYPE, amf::amf_size, amf::AMFBuffer** buffer) override {
    *buffer = nullptr;
    return AMF_NOT_IMPLEMENTED;
  }
  AMF_RESULT CreateSurfaceFromDX11Native(void* texture, amf::AMFSurface** surface,
                                         amf::AMFSurfaceObserver* observer) override {
    *surface = nullptr;
    const auto failing = FailingSurfaceCalls.find(surfaceCalls_++);
    if (failing != FailingSurfaceCalls.end()) return failing->second;
    if (observer != nullptr) ++ObserversGiven;
    Surfaces.push_back(std::make_unique<FakeSurface>(static_cast<ID3D11Texture2D*>(texture)));
    *surface = Surfaces.back().get();
    return AMF_OK;
  }

  // Scripting
  AMF_RESULT InitDX11Result = AMF_OK;
  std::map<int, AMF_RESULT> FailingSurfaceCalls;  // by 0-based call number

  // Observations
  void* InitDevice = nullptr;
  amf::AMF_DX_VERSION InitVersion = amf::AMF_DX9;
  int InitCalls = 0;
  int TerminateCalls = 0;
  int ObserversGiven = 0;
  std::vector<std::unique_ptr<FakeSurface>> Surfaces;

 private:
  int surfaceCalls_ = 0;
};

// One SubmitInput call as the encoder saw it.
struct Submission {
  FakeSurface* Surface;
  ID3D11Texture2D* Texture;
  std::uint32_t Time;
  amf::amf_pts Pts;
  amf::amf_pts Duration;
  std::vector<PropertySet> Properties;  // set on the surface since its previous submission
  AMF_RESULT Result;
  std::uint32_t ReadyTime;  // accepted frames: when their output can be taken
};

// An encoder that answers from a script: each accepted frame gives one output, in order, ready a
// scripted number of ms (fake clock) after its submission; after a successful Drain and the last
// output, QueryOutput reports AMF_EOF.
class FakeEncoder final : public Properties<amf::AMFComponent> {
 public:
  struct QueryAnswer {
    AMF_RESULT Result;
    bool WithObject;  // hand out a data object along with the result
  };

  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override {
    return QueryAs(iid, {amf::AMFInterface::IID(), amf::AMFComponent::IID()}, out);
  }
  AMF_RESULT Init(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width,
                  amf::amf_int32 height) override {
    ++InitCalls;
    InitFormat = format;
    InitWidth = width;
    InitHeight = height;
    Log("Init");
    return InitResult;
  }
  AMF_RESULT ReInit(amf::amf_int32, amf::amf_int32) override { return AMF_NOT_IMPLEMENTED; }
  AMF_RESULT Terminate() override {
    ++TerminateCalls;
    Log("Terminate");
    if (OnTerminate) OnTerminate();
    return TerminateResult;
  }
  AMF_RESULT Drain() override {
    ++DrainCalls;
    AMF_RESULT result = AMF_OK;
    if (!DrainResults.empty()) {
      result = DrainResults.front();
      DrainResults.pop_front();
    }
    Log("Drain");
    if (result == AMF_OK) Drained = true;
    return result;
  }
  AMF_RESULT Flush() override { return AMF_OK; }

  AMF_RESULT SubmitInput(amf::AMFData* data) override {
    const int call = SubmitCalls++;
    Log("SubmitInput");
    auto* surface = dynamic_cast<FakeSurface*>(data);
    Submission s{surface,
                 surface != nullptr ? surface->Texture : nullptr,
                 Now(),
                 surface != nullptr ? surface->GetPts() : -1,
                 surface != nullptr ? surface->GetDuration() : -1,
                 surface != nullptr ? surface->TakeNewSets() : std::vector<PropertySet>{},
                 AMF_OK,
                 0};
    const auto scripted = SubmitResults.find(call);
    if (scripted != SubmitResults.end()) s.Result = scripted->second;
    if (Drained) s.Result = AMF_WRONG_STATE;  // input after the end of input
    Attempts.push_back(s);
    if (s.Result != AMF_OK) return s.Result;
    const auto index = static_cast<std::uint32_t>(Accepted.size());
    s.ReadyTime = s.Time + (Latency ? Latency(index) : 5u);
    Accepted.push_back(s);
    MaxInFlight = std::max(MaxInFlight, Accepted.size() - Delivered);
    if (OnAccepted) OnAccepted(index);
    return AMF_OK;
  }

  AMF_RESULT QueryOutput(amf::AMFData** out) override {
    *out = nullptr;
    const int call = QueryCalls++;
    Log("QueryOutput");
    const auto scripted = QueryAnswers.find(call);
    if (scripted != QueryAnswers.end()) {
      if (scripted->second.WithObject) *out = NewData();
      return scripted->second.Result;
    }
    if (Delivered < Accepted.size()) {
      if (static_cast<std::int32_t>(Now() - Accepted[Delivered].ReadyTime) < 0) return AMF_REPEAT;
      const auto index = static_cast<std::uint32_t>(Delivered++);
      Log("Output");
      if (NullOutputs.count(index) != 0) return AMF_OK;
      if (NotBufferOutputs.count(index) != 0) {
        *out = NewData();
        return AMF_OK;
      }
      Outputs.push_back(
          std::make_unique<FakeBuffer>(Payload ? Payload(index) : DefaultPayload(index)));
      Outputs.back()->Store(DataTypeProperty,
                            DataTypeOf ? DataTypeOf(index) : (index == 0 ? 0 : 2));
      *out = Outputs.back().get();
      return AMF_OK;
    }
    return Drained ? AMF_EOF : AMF_REPEAT;
  }
  amf::AMFContext* GetContext() override { return Context; }

  static std::vector<std::uint8_t> DefaultPayload(std::uint32_t index) {
    std::vector<std::uint8_t> bytes(1 + index % 5, static_cast<std::uint8_t>(index));
    bytes.front() = 0xA5;
    return bytes;
  }

  // Scripting
  FakeClock* PacingClock = nullptr;
  amf::AMFContext* Context = nullptr;
  CallLog* CallLogTarget = nullptr;
  std::function<std::uint32_t(std::uint32_t output)> Latency;  // default 5 ms
  std::function<void(std::uint32_t frame)> OnAccepted;  // inside SubmitInput, e.g. to take time
  std::function<std::vector<std::uint8_t>(std::uint32_t output)> Payload;
  std::function<std::int32_t(std::uint32_t output)> DataTypeOf;  // default IDR first, then P
  std::wstring DataTypeProperty = L"OutputDataType";
  std::map<int, AMF_RESULT> SubmitResults;  // by 0-based SubmitInput call
  std::deque<AMF_RESULT> DrainResults;      // in order; AMF_OK once used up
  std::map<int, QueryAnswer> QueryAnswers;  // by 0-based QueryOutput call
  std::set<std::uint32_t> NotBufferOutputs;
  std::set<std::uint32_t> NullOutputs;
  AMF_RESULT InitResult = AMF_OK;
  AMF_RESULT TerminateResult = AMF_OK;
  std::function<void()> OnTerminate;

  // Observations
  std::vector<Submission> Attempts;
  std::vector<Submission> Accepted;
  std::size_t Delivered = 0;
  std::size_t MaxInFlight = 0;
  std::vector<std::unique_ptr<FakeBuffer>> Outputs;
  std::vector<std::unique_ptr<FakeData>> OtherData;
  bool Drained = false;
  int SubmitCalls = 0;
  int QueryCalls = 0;
  int DrainCalls = 0;
  int InitCalls = 0;
  int TerminateCalls = 0;
  amf::AMF_SURFACE_FORMAT InitFormat = amf::AMF_SURFACE_UNKNOWN;
  amf::amf_int32 InitWidth = 0;
  amf::amf_int32 InitHeight = 0;

 private:
  std::uint32_t Now() const { return PacingClock != nullptr ? PacingClock->TimeGetTime() : 0; }
  void Log(const char* entry) {
    if (CallLogTarget != nullptr) CallLogTarget->Add(entry);
  }
  FakeData* NewData() {
    OtherData.push_back(std::make_unique<FakeData>());
    return OtherData.back().get();
  }
};

// Hands out a new context and a new encoder for every request, all kept for inspection.
class FakeFactory final : public amf::AMFFactory {
 public:
  explicit FakeFactory(FakeClock* clock = nullptr) : clock_(clock) {}

  AMF_RESULT CreateContext(amf::AMFContext** context) override {
    *context = nullptr;
    const auto failing = FailingContextCalls.find(contextCalls_++);
    if (failing != FailingContextCalls.end()) return failing->second;
    Contexts.push_back(std::make_unique<FakeContext>());
    if (OnNewContext) OnNewContext(*Contexts.back(), Contexts.size() - 1);
    *context = Contexts.back().get();
    return AMF_OK;
  }
  AMF_RESULT CreateComponent(amf::AMFContext* context, const wchar_t* id,
                             amf::AMFComponent** component) override {
    *component = nullptr;
    ComponentIds.emplace_back(id);
    const auto failing = FailingComponentCalls.find(componentCalls_++);
    if (failing != FailingComponentCalls.end()) return failing->second;
    Encoders.push_back(std::make_unique<FakeEncoder>());
    FakeEncoder& encoder = *Encoders.back();
    encoder.PacingClock = clock_;
    encoder.Context = context;
    if (OnNewEncoder) OnNewEncoder(encoder, Encoders.size() - 1);
    *component = &encoder;
    return AMF_OK;
  }
  AMF_RESULT SetCacheFolder(const wchar_t*) override { return AMF_OK; }
  const wchar_t* GetCacheFolder() override { return L""; }
  AMF_RESULT GetDebug(amf::AMFDebug** debug) override {
    *debug = nullptr;
    return AMF_NOT_IMPLEMENTED;
  }
  AMF_RESULT GetTrace(amf::AMFTrace** trace) override {
    *trace = nullptr;
    return AMF_NOT_IMPLEMENTED;
  }

  // Scripting: each new object is handed to these (with its 0-based number) before use.
  std::function<void(FakeEncoder&, std::size_t)> OnNewEncoder;
  std::function<void(FakeContext&, std::size_t)> OnNewContext;
  std::map<int, AMF_RESULT> FailingContextCalls;    // by 0-based call
  std::map<int, AMF_RESULT> FailingComponentCalls;  // by 0-based call

  // Observations
  std::vector<std::unique_ptr<FakeContext>> Contexts;
  std::vector<std::unique_ptr<FakeEncoder>> Encoders;
  std::vector<std::wstring> ComponentIds;

 private:
  FakeClock* clock_;
  int contextCalls_ = 0;
  int componentCalls_ = 0;
};

}  // namespace fakes

}  // namespace corvantis
