#include "amfrt/factory.h"

#include <new>

#include "amfrt/context.h"
#include "amfrt/debug.h"
#include "amfrt/encoder_component.h"
#include "amfrt/trace.h"

namespace corvantis::amfrt {
namespace {
constexpr wchar_t kScope[] = L"AMFFactory";
}

Factory& Factory::Instance() {
  static Factory factory;
  return factory;
}

AMF_RESULT Factory::CreateContext(amf::AMFContext** ppContext) {
  if (ppContext == nullptr)
    return Misuse(AMF_INVALID_POINTER, kScope, L"CreateContext without out");
  *ppContext = new (std::nothrow) Context();
  return *ppContext != nullptr ? AMF_OK : AMF_OUT_OF_MEMORY;
}

AMF_RESULT Factory::CreateComponent(amf::AMFContext* pContext, const wchar_t* id,
                                    amf::AMFComponent** ppComponent) {
  if (ppComponent == nullptr)
    return Misuse(AMF_INVALID_POINTER, kScope, L"CreateComponent without out");
  *ppComponent = nullptr;
  if (pContext == nullptr)
    return Misuse(AMF_INVALID_ARG, kScope, L"CreateComponent without a context");
  Codec codec;
  if (!CodecFromComponentId(id, &codec)) {
    TraceLine(amf::AMF_TRACE_ERROR, kScope, L"CreateComponent: no component \"%ls\"",
              id != nullptr ? id : L"(null)");
    return AMF_NOT_SUPPORTED;
  }
  *ppComponent = new (std::nothrow) EncoderComponent(codec, pContext);
  return *ppComponent != nullptr ? AMF_OK : AMF_OUT_OF_MEMORY;
}

AMF_RESULT Factory::SetCacheFolder(const wchar_t* path) {
  std::lock_guard lock(mutex_);
  cacheFolder_ = path != nullptr ? path : L"";
  return AMF_OK;
}

const wchar_t* Factory::GetCacheFolder() {
  std::lock_guard lock(mutex_);
  return cacheFolder_.c_str();
}

AMF_RESULT Factory::GetDebug(amf::AMFDebug** ppDebug) {
  if (ppDebug == nullptr) return AMF_INVALID_POINTER;
  *ppDebug = &Debug::Instance();
  return AMF_OK;
}

AMF_RESULT Factory::GetTrace(amf::AMFTrace** ppTrace) {
  if (ppTrace == nullptr) return AMF_INVALID_POINTER;
  *ppTrace = &Trace::Instance();
  return AMF_OK;
}

}  // namespace corvantis::amfrt
