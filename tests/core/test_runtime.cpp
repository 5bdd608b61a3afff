// A minimal runtime library for the loader tests; what it lacks or fails is chosen at build time.
#include <cstdint>

#include "amf/api/interfaces.h"

namespace {

class CountingFactory final : public amf::AMFFactory {
 public:
  AMF_RESULT CreateContext(amf::AMFContext**) override { return AMF_NOT_IMPLEMENTED; }
  AMF_RESULT CreateComponent(amf::AMFContext*, const wchar_t*, amf::AMFComponent**) override {
    return AMF_NOT_IMPLEMENTED;
  }
  AMF_RESULT SetCacheFolder(const wchar_t*) override { return AMF_OK; }
  const wchar_t* GetCacheFolder() override { return L""; }
  AMF_RESULT GetDebug(amf::AMFDebug**) override { return AMF_NOT_SUPPORTED; }
  AMF_RESULT GetTrace(amf::AMFTrace**) override { return AMF_NOT_SUPPORTED; }
};

[[maybe_unused]] CountingFactory g_factory;
int g_initCalls = 0;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int TestRuntimeInitCalls() { return g_initCalls; }

#ifndef TEST_RUNTIME_NO_INIT
__attribute__((visibility("default"))) AMF_RESULT AMFInit(amf::amf_uint64 version,
                                                          amf::AMFFactory** factory) {
  ++g_initCalls;
#ifdef TEST_RUNTIME_INIT_RESULT
  (void)version;
  (void)factory;
  return static_cast<AMF_RESULT>(TEST_RUNTIME_INIT_RESULT);
#else
  if (version != amf::AMF_FULL_VERSION) return AMF_INVALID_ARG;
  *factory = &g_factory;
  return AMF_OK;
#endif
}
#endif

#ifndef TEST_RUNTIME_NO_QUERY
__attribute__((visibility("default"))) AMF_RESULT AMFQueryVersion(amf::amf_uint64* version) {
  *version = amf::AMF_MAKE_FULL_VERSION(1, 4, 16, 0);
  return AMF_OK;
}
#endif
}
