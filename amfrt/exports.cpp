#include "amf/api/interfaces.h"
#include "amfrt/factory.h"
#include "amfrt/trace.h"
#include "amfrt/version.h"

using namespace corvantis;

extern "C" {

__attribute__((visibility("default"))) AMF_RESULT AMFInit(amf::amf_uint64 version,
                                                          amf::AMFFactory** ppFactory) {
  if (ppFactory == nullptr) return AMF_INVALID_ARG;
  *ppFactory = nullptr;
  if (amf::AMF_GET_MAJOR_VERSION(version) != amf::AMF_GET_MAJOR_VERSION(amfrt::kRuntimeVersion) ||
      version > amfrt::kRuntimeVersion) {
    amfrt::TraceLine(amf::AMF_TRACE_ERROR, L"AMFInit",
                     L"Version %u.%u.%u.%u requested; this runtime is %u.%u.%u.%u",
                     amf::AMF_GET_MAJOR_VERSION(version), amf::AMF_GET_MINOR_VERSION(version),
                     amf::AMF_GET_SUBMINOR_VERSION(version), amf::AMF_GET_BUILD_VERSION(version),
                     amf::AMF_GET_MAJOR_VERSION(amfrt::kRuntimeVersion),
                     amf::AMF_GET_MINOR_VERSION(amfrt::kRuntimeVersion),
                     amf::AMF_GET_SUBMINOR_VERSION(amfrt::kRuntimeVersion),
                     amf::AMF_GET_BUILD_VERSION(amfrt::kRuntimeVersion));
    return AMF_NOT_SUPPORTED;
  }
  *ppFactory = &amfrt::Factory::Instance();
  return AMF_OK;
}

__attribute__((visibility("default"))) AMF_RESULT AMFQueryVersion(amf::amf_uint64* pVersion) {
  if (pVersion == nullptr) return AMF_INVALID_ARG;
  *pVersion = amfrt::kRuntimeVersion;
  return AMF_OK;
}

}  // extern "C"
