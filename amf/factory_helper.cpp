#include "amf/factory_helper.h"

#include <dlfcn.h>

#include "platform/format_text.h"
#include "platform/module_path.h"
#include "platform/utf.h"

namespace corvantis {

AMFFactoryHelper::AMFFactoryHelper(std::wstring libraryPath)
    : libraryPath_(std::move(libraryPath)) {}

AMFFactoryHelper::~AMFFactoryHelper() { ReleaseRuntime(); }

AMF_RESULT AMFFactoryHelper::LoadRuntime() {
  // Only a runtime that came up completely counts as loaded; after a failed entry point the
  // library stays mapped and the entry points are tried again, so no caller gets a null factory.
  if (runtimeLibrary_ != nullptr && runtimeFactory_ != nullptr) {
    referenceCount_.fetch_add(1);
    return AMF_OK;
  }
  if (runtimeLibrary_ == nullptr) {
    std::wstring path = libraryPath_;
    if (path.empty()) {
      try {
        path = GetExecutableDirectory() + L"/" + kAmfRuntimeLibraryName;
      } catch (...) {
        return AMF_FAIL;
      }
    }
    runtimeLibrary_ = dlopen(WideToUtf8Lossy(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (runtimeLibrary_ == nullptr) return AMF_FAIL;
  }

  auto init = reinterpret_cast<AMFInit_Fn>(dlsym(runtimeLibrary_, AMF_INIT_FUNCTION_NAME));
  if (init == nullptr) return AMF_FAIL;
  amf::AMFFactory* factory = nullptr;
  AMF_RESULT result = init(amf::AMF_FULL_VERSION, &factory);
  if (result != AMF_OK) return result;

  auto queryVersion =
      reinterpret_cast<AMFQueryVersion_Fn>(dlsym(runtimeLibrary_, AMF_QUERY_VERSION_FUNCTION_NAME));
  if (queryVersion == nullptr) return AMF_FAIL;
  amf::amf_uint64 version = 0;
  result = queryVersion(&version);
  if (result != AMF_OK) return result;
  if (factory == nullptr) return AMF_FAIL;

  runtimeFactory_ = factory;
  runtimeVersion_ = version;
  runtimeFactory_->GetTrace(&runtimeTrace_);
  runtimeFactory_->GetDebug(&runtimeDebug_);
  referenceCount_.fetch_add(1);
  return AMF_OK;
}

void AMFFactoryHelper::ReleaseRuntime() {
  if (runtimeLibrary_ == nullptr) return;
  if (referenceCount_.fetch_sub(1) - 1 <= 0) {
    referenceCount_.store(0);
    dlclose(runtimeLibrary_);
    runtimeLibrary_ = nullptr;
    runtimeFactory_ = nullptr;
    runtimeDebug_ = nullptr;
    runtimeTrace_ = nullptr;
  }
}

void AMFFactoryHelper::EnableAmfDebugTracing() {
  if (runtimeFactory_ == nullptr) return;
  amf::AMFDebug* debug = nullptr;
  if (runtimeFactory_->GetDebug(&debug) == AMF_OK && debug != nullptr) debug->AssertsEnable(true);
  amf::AMFTrace* trace = nullptr;
  if (runtimeFactory_->GetTrace(&trace) == AMF_OK && trace != nullptr) {
    trace->SetGlobalLevel(amf::AMF_TRACE_TRACE);
    trace->EnableWriter(L"DebugOutput", true);
    trace->SetWriterLevel(L"DebugOutput", amf::AMF_TRACE_TRACE);
  }
}

AMFFactoryHelper& g_AMFFactory() {
  static AMFFactoryHelper helper;
  return helper;
}

std::string FormatAmfVersion(amf::amf_uint64 version) {
  return FormatNarrow("%u.%u.%u.%u", amf::AMF_GET_MAJOR_VERSION(version),
                      amf::AMF_GET_MINOR_VERSION(version), amf::AMF_GET_SUBMINOR_VERSION(version),
                      amf::AMF_GET_BUILD_VERSION(version));
}

}  // namespace corvantis
