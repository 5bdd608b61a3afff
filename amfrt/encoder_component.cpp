#include "amfrt/encoder_component.h"

#include "amf/api/encoder_properties.h"
#include "amfrt/debug.h"
#include "amfrt/encoder_choice.h"
#include "amfrt/trace.h"

namespace corvantis::amfrt {
namespace {

amf::AMFContextPtr Hold(amf::AMFContext* context) {
  amf::AMFContextPtr held;
  if (context != nullptr) {
    context->Acquire();
    *&held = context;
  }
  return held;
}

}  // namespace

EncoderComponent::EncoderComponent(Codec codec, amf::AMFContext* context)
    : codec_(codec), context_(Hold(context)) {}

EncoderComponent::~EncoderComponent() { Terminate(); }

AMF_RESULT EncoderComponent::QueryInterface(const amf::AMFGuid& iid, void** out) {
  return QueryInterfaces<amf::AMFComponent, amf::AMFPropertyStorage, amf::AMFInterface>(this, iid,
                                                                                        out);
}

AMF_RESULT EncoderComponent::SetProperty(const wchar_t* name, amf::AMFVariantStruct value) {
  if (name == nullptr)
    return Misuse(AMF_INVALID_POINTER, NamesOf(codec_).ComponentId, L"SetProperty without a name");
  amf::AMFVariantStruct normalized;
  amf::AMFVariantInit(&normalized);
  AMF_RESULT result = NormalizeEncoderProperty(codec_, name, value, &normalized);
  if (result == AMF_OK) result = PropertyStorageImpl::SetProperty(name, normalized);
  amf::AMFVariantClear(&normalized);
  if (result != AMF_OK)
    TraceLine(amf::AMF_TRACE_WARNING, NamesOf(codec_).ComponentId, L"SetProperty(%ls) refused: %ls",
              name, ResultName(result));
  return result;
}

AMF_RESULT EncoderComponent::Init(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width,
                                  amf::amf_int32 height) {
  std::lock_guard lock(mutex_);
  return InitLocked(format, width, height);
}

AMF_RESULT EncoderComponent::InitLocked(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width,
                                        amf::amf_int32 height) {
  const wchar_t* scope = NamesOf(codec_).ComponentId;
  if (worker_) return Misuse(AMF_ALREADY_INITIALIZED, scope, L"Init while initialised");
  if (format != amf::AMF_SURFACE_BGRA) {
    TraceLine(amf::AMF_TRACE_ERROR, scope,
              L"Init: surface format %d is not supported, only BGRA (3)", static_cast<int>(format));
    return AMF_SURFACE_FORMAT_NOT_SUPPORTED;
  }
  EncoderSettings settings;
  {
    std::lock_guard properties(PropertyMutex());
    settings = ReadEncoderSettings(codec_, Properties());
  }
  std::unique_ptr<FrameEncoder> encoder;
  AMF_RESULT result = OpenFrameEncoder(context_.GetPtr(), settings, width, height, &encoder);
  if (result == AMF_OK) {
    TraceLine(amf::AMF_TRACE_INFO, scope, L"Init: %ls", encoder->Summary().c_str());
    amf::AMFVariantStruct library;
    amf::AMFVariantInit(&library);
    amf::AMFVariantAssignWString(&library, encoder->Library().c_str());
    PropertyStorageImpl::SetProperty(CORVANTIS_ENCODER_LIBRARY, library);
    amf::AMFVariantClear(&library);
    result = EncodeWorker::Start(codec_, std::move(encoder), &worker_);
  }
  if (result != AMF_OK) {
    TraceLine(amf::AMF_TRACE_ERROR, scope, L"Init(%dx%d) failed: %ls", width, height,
              ResultName(result));
    return result;
  }
  format_ = format;
  width_ = width;
  height_ = height;
  return AMF_OK;
}

AMF_RESULT EncoderComponent::ReInit(amf::amf_int32 width, amf::amf_int32 height) {
  std::lock_guard lock(mutex_);
  if (!worker_)
    return Misuse(AMF_NOT_INITIALIZED, NamesOf(codec_).ComponentId, L"ReInit before Init");
  worker_.reset();
  return InitLocked(format_, width, height);
}

AMF_RESULT EncoderComponent::Terminate() {
  std::unique_ptr<EncodeWorker> stopping;
  {
    std::lock_guard lock(mutex_);
    stopping = std::move(worker_);
  }
  return AMF_OK;  // the worker stops and joins as `stopping` goes
}

AMF_RESULT EncoderComponent::Drain() {
  std::lock_guard lock(mutex_);
  if (!worker_)
    return Misuse(AMF_NOT_INITIALIZED, NamesOf(codec_).ComponentId, L"Drain before Init");
  return worker_->Drain();
}

AMF_RESULT EncoderComponent::Flush() {
  std::lock_guard lock(mutex_);
  if (!worker_)
    return Misuse(AMF_NOT_INITIALIZED, NamesOf(codec_).ComponentId, L"Flush before Init");
  worker_.reset();
  return InitLocked(format_, width_, height_);
}

FrameRequest EncoderComponent::ReadFrameRequest(TextureSurface* surface) const {
  const CodecNames& names = NamesOf(codec_);
  FrameRequest request;
  request.Pts = surface->GetPts();
  request.Duration = surface->GetDuration();
  amf::amf_int64 value = 0;
  request.Delimiter = surface->PropertyAsInt64(names.InsertAud, &value) && value != 0;
  request.Headers = surface->PropertyAsInt64(names.InsertHeaders, &value) && value != 0;
  if (names.InsertHeadersSecond != nullptr)
    request.Headers = request.Headers ||
                      (surface->PropertyAsInt64(names.InsertHeadersSecond, &value) && value != 0);
  return request;
}

AMF_RESULT EncoderComponent::SubmitInput(amf::AMFData* pData) {
  const wchar_t* scope = NamesOf(codec_).ComponentId;
  if (pData == nullptr) return Misuse(AMF_INVALID_POINTER, scope, L"SubmitInput without data");
  TextureSurface* surface = nullptr;
  if (pData->QueryInterface(TextureSurface::IID(), reinterpret_cast<void**>(&surface)) != AMF_OK) {
    TraceLine(amf::AMF_TRACE_ERROR, scope,
              L"SubmitInput: the data is not a surface of this runtime");
    return AMF_INVALID_DATA_TYPE;
  }
  amf::AMFInterfacePtr_T<TextureSurface> held;
  *&held = surface;

  std::lock_guard lock(mutex_);
  if (!worker_) return Misuse(AMF_NOT_INITIALIZED, scope, L"SubmitInput before Init");
  if (surface->GetWidth() != width_ || surface->GetHeight() != height_) {
    TraceLine(amf::AMF_TRACE_ERROR, scope, L"SubmitInput: surface %dx%d, encoder %dx%d",
              surface->GetWidth(), surface->GetHeight(), width_, height_);
    return AMF_INVALID_RESOLUTION;
  }
  return worker_->Submit(surface, ReadFrameRequest(surface));
}

AMF_RESULT EncoderComponent::QueryOutput(amf::AMFData** ppData) {
  if (ppData == nullptr)
    return Misuse(AMF_INVALID_POINTER, NamesOf(codec_).ComponentId, L"QueryOutput without out");
  *ppData = nullptr;
  std::lock_guard lock(mutex_);
  if (!worker_)
    return Misuse(AMF_NOT_INITIALIZED, NamesOf(codec_).ComponentId, L"QueryOutput before Init");
  return worker_->Query(ppData);
}

}  // namespace corvantis::amfrt
