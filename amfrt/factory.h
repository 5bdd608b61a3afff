#pragma once
#include <mutex>
#include <string>

#include "amf/api/interfaces.h"

namespace corvantis::amfrt {

// The process-wide AMFFactory; not reference-counted.
class Factory final : public amf::AMFFactory {
 public:
  static Factory& Instance();
  Factory() = default;
  ~Factory() override = default;

  AMF_RESULT CreateContext(amf::AMFContext** ppContext) override;
  // Ids "AMFVideoEncoderVCE_AVC" and "AMFVideoEncoderHW_HEVC"; AMF_NOT_SUPPORTED for others,
  // AMF_INVALID_ARG without a context.
  AMF_RESULT CreateComponent(amf::AMFContext* pContext, const wchar_t* id,
                             amf::AMFComponent** ppComponent) override;
  // Kept for callers; the runtime caches nothing.
  AMF_RESULT SetCacheFolder(const wchar_t* path) override;
  const wchar_t* GetCacheFolder() override;
  AMF_RESULT GetDebug(amf::AMFDebug** ppDebug) override;
  AMF_RESULT GetTrace(amf::AMFTrace** ppTrace) override;

 private:
  std::mutex mutex_;
  std::wstring cacheFolder_;
};

}  // namespace corvantis::amfrt
