#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "amf/api/interfaces.h"

namespace corvantis {

// Loads the encoder runtime library once per process and hands out its factory.
class AMFFactoryHelper {
 public:
  // `libraryPath` empty: the runtime's fixed name in the executable's directory.
  explicit AMFFactoryHelper(std::wstring libraryPath = {});
  virtual ~AMFFactoryHelper();
  AMFFactoryHelper(const AMFFactoryHelper&) = delete;
  AMFFactoryHelper& operator=(const AMFFactoryHelper&) = delete;

  // AMF_OK once loaded (later calls only count); AMF_FAIL when the library or an entry point is
  // missing (a missing library is tried again next time); a failing entry point's own result.
  AMF_RESULT LoadRuntime();
  // Drops one reference; the library is unloaded at zero.
  void ReleaseRuntime();
  // Asserts and the "DebugOutput" trace writer at trace level; failures ignored.
  void EnableAmfDebugTracing();

  amf::AMFFactory* RuntimeFactory() const { return runtimeFactory_; }
  amf::amf_uint64 RuntimeVersion() const { return runtimeVersion_; }

 private:
  std::wstring libraryPath_;
  void* runtimeLibrary_ = nullptr;
  amf::AMFFactory* runtimeFactory_ = nullptr;
  amf::AMFDebug* runtimeDebug_ = nullptr;
  amf::AMFTrace* runtimeTrace_ = nullptr;
  amf::amf_uint64 runtimeVersion_ = 0;
  std::atomic<std::int32_t> referenceCount_{0};
};

// File name of the runtime library beside the executable.
inline constexpr wchar_t kAmfRuntimeLibraryName[] = L"libamfrt64.so";

// The process's one loader.
AMFFactoryHelper& g_AMFFactory();

// "major.minor.release.build" of a 64-bit AMF version.
std::string FormatAmfVersion(amf::amf_uint64 version);

}  // namespace corvantis
