#pragma once
#include <cstdint>

#include "amf/api/result.h"
#include "amf/api/variant.h"

// The AMF interfaces the program and the encoder runtime share, with the SDK's names and
// declaration order. Identifiers are this project's own.

namespace amf {

struct AMFGuid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data41, data42, data43, data44, data45, data46, data47, data48;
  bool operator==(const AMFGuid& other) const = default;
};

#define AMF_DECLARE_IID(name, d1, d2, d3, d41, d42, d43, d44, d45, d46, d47, d48) \
  static const ::amf::AMFGuid IID() {                                             \
    return ::amf::AMFGuid{d1, d2, d3, d41, d42, d43, d44, d45, d46, d47, d48};    \
  }

enum AMF_SURFACE_FORMAT : std::int32_t {
  AMF_SURFACE_UNKNOWN = 0,
  AMF_SURFACE_NV12 = 1,
  AMF_SURFACE_YV12 = 2,
  AMF_SURFACE_BGRA = 3,
  AMF_SURFACE_ARGB = 4,
  AMF_SURFACE_RGBA = 5,
};

enum AMF_DX_VERSION : std::int32_t {
  AMF_DX9 = 90,
  AMF_DX9_EX = 91,
  AMF_DX11_0 = 110,
  AMF_DX11_1 = 111,
};

enum AMF_MEMORY_TYPE : std::int32_t {
  AMF_MEMORY_UNKNOWN = 0,
  AMF_MEMORY_HOST = 1,
  AMF_MEMORY_DX9 = 2,
  AMF_MEMORY_DX11 = 3,
};

enum AMF_DATA_TYPE : std::int32_t {
  AMF_DATA_BUFFER = 0,
  AMF_DATA_SURFACE = 1,
  AMF_DATA_AUDIO_BUFFER = 2,
  AMF_DATA_USER = 1000,
};

enum AMF_TRACE_LEVEL : std::int32_t {
  AMF_TRACE_ERROR = 0,
  AMF_TRACE_WARNING = 1,
  AMF_TRACE_INFO = 2,
  AMF_TRACE_DEBUG = 3,
  AMF_TRACE_TRACE = 4,
  AMF_TRACE_TEST = 5,
  AMF_TRACE_NOLOG = 100,
};

class AMFInterface {
 public:
  AMF_DECLARE_IID(AMFInterface, 0x9d872f34, 0x90dc, 0x4b93, 0xb6, 0xb2, 0x6c, 0xa3, 0x7c, 0x85,
                  0x25, 0xdb)
  virtual amf_long Acquire() = 0;
  virtual amf_long Release() = 0;
  virtual AMF_RESULT QueryInterface(const AMFGuid& interfaceID, void** ppInterface) = 0;

 protected:
  virtual ~AMFInterface() = default;
};

class AMFPropertyStorage : public AMFInterface {
 public:
  AMF_DECLARE_IID(AMFPropertyStorage, 0xc7cec05b, 0xcfb9, 0x48af, 0xac, 0xe3, 0xf6, 0x8d, 0xf8,
                  0x39, 0x5f, 0xe3)
  // The value is taken by copy; the callee copies what it keeps.
  virtual AMF_RESULT SetProperty(const wchar_t* name, AMFVariantStruct value) = 0;
  // AMF_NOT_FOUND when the storage has no such property.
  virtual AMF_RESULT GetProperty(const wchar_t* name, AMFVariantStruct* pValue) const = 0;
  virtual bool HasProperty(const wchar_t* name) const = 0;
  virtual amf_size GetPropertyCount() const = 0;
  virtual AMF_RESULT Clear() = 0;
};

class AMFData : public AMFPropertyStorage {
 public:
  AMF_DECLARE_IID(AMFData, 0xa1159bf6, 0x9104, 0x4107, 0x8e, 0xaa, 0xc5, 0x3d, 0x5d, 0xba, 0xc5,
                  0x11)
  virtual AMF_MEMORY_TYPE GetMemoryType() = 0;
  virtual AMF_DATA_TYPE GetDataType() = 0;
  virtual bool IsReusable() = 0;
  virtual void SetPts(amf_pts pts) = 0;
  virtual amf_pts GetPts() = 0;
  virtual void SetDuration(amf_pts duration) = 0;
  virtual amf_pts GetDuration() = 0;
};

class AMFBuffer : public AMFData {
 public:
  AMF_DECLARE_IID(AMFBuffer, 0xb04b7248, 0xb6f0, 0x4321, 0xb6, 0x91, 0xba, 0xa4, 0x74, 0x0f, 0x9f,
                  0xcb)
  virtual AMF_RESULT SetSize(amf_size newSize) = 0;
  virtual amf_size GetSize() = 0;
  virtual void* GetNative() = 0;
};

class AMFSurface : public AMFData {
 public:
  AMF_DECLARE_IID(AMFSurface, 0x3075dbe3, 0x8718, 0x4cfa, 0x86, 0xfb, 0x21, 0x14, 0xc0, 0xa5, 0xa4,
                  0x51)
  virtual AMF_SURFACE_FORMAT GetFormat() = 0;
  virtual amf_int32 GetWidth() = 0;
  virtual amf_int32 GetHeight() = 0;
};

class AMFSurfaceObserver {
 public:
  virtual void OnSurfaceDataRelease(AMFSurface* pSurface) = 0;

 protected:
  virtual ~AMFSurfaceObserver() = default;
};

class AMFContext : public AMFPropertyStorage {
 public:
  AMF_DECLARE_IID(AMFContext, 0xa76a13f0, 0xd80e, 0x4fcc, 0xb5, 0x8f, 0x7b, 0x23, 0x2d, 0x83, 0x6b,
                  0x12)
  virtual AMF_RESULT Terminate() = 0;
  // pDevice is the program's ID3D11Device.
  virtual AMF_RESULT InitDX11(void* pDevice, AMF_DX_VERSION dxVersionRequired) = 0;
  virtual void* GetDX11Device(AMF_DX_VERSION dxVersionRequired) = 0;
  virtual AMF_RESULT LockDX11() = 0;
  virtual AMF_RESULT UnlockDX11() = 0;
  virtual AMF_RESULT AllocBuffer(AMF_MEMORY_TYPE type, amf_size size, AMFBuffer** ppBuffer) = 0;
  // pDX11Surface is the program's ID3D11Texture2D; the surface holds a reference to it and reads
  // its pixels whenever it is encoded.
  virtual AMF_RESULT CreateSurfaceFromDX11Native(void* pDX11Surface, AMFSurface** ppSurface,
                                                 AMFSurfaceObserver* pObserver) = 0;
};

class AMFComponent : public AMFPropertyStorage {
 public:
  AMF_DECLARE_IID(AMFComponent, 0x8b51e5e4, 0x455d, 0x4034, 0xa7, 0x46, 0xde, 0x1b, 0xed, 0xc3,
                  0xc4, 0x06)
  virtual AMF_RESULT Init(AMF_SURFACE_FORMAT format, amf_int32 width, amf_int32 height) = 0;
  virtual AMF_RESULT ReInit(amf_int32 width, amf_int32 height) = 0;
  virtual AMF_RESULT Terminate() = 0;
  virtual AMF_RESULT Drain() = 0;
  virtual AMF_RESULT Flush() = 0;
  virtual AMF_RESULT SubmitInput(AMFData* pData) = 0;
  virtual AMF_RESULT QueryOutput(AMFData** ppData) = 0;
  virtual AMFContext* GetContext() = 0;
};

class AMFTraceWriter {
 public:
  virtual void Write(const wchar_t* scope, const wchar_t* message) = 0;
  virtual void Flush() = 0;

 protected:
  virtual ~AMFTraceWriter() = default;
};

// Not reference-counted: owned by the runtime.
class AMFTrace {
 public:
  virtual void TraceW(const wchar_t* src_path, amf_int32 line, amf_int32 level,
                      const wchar_t* scope, amf_int32 countArgs, const wchar_t* format, ...) = 0;
  virtual amf_int32 SetGlobalLevel(amf_int32 level) = 0;
  virtual amf_int32 GetGlobalLevel() = 0;
  virtual bool EnableWriter(const wchar_t* writerID, bool enable) = 0;
  virtual bool WriterEnabled(const wchar_t* writerID) = 0;
  virtual amf_int32 SetWriterLevel(const wchar_t* writerID, amf_int32 level) = 0;
  virtual amf_int32 GetWriterLevel(const wchar_t* writerID) = 0;
  virtual void RegisterWriter(const wchar_t* writerID, AMFTraceWriter* pWriter, bool enable) = 0;
  virtual void UnregisterWriter(const wchar_t* writerID) = 0;

 protected:
  virtual ~AMFTrace() = default;
};

// Not reference-counted: owned by the runtime.
class AMFDebug {
 public:
  virtual void EnablePerformanceMonitor(bool enable) = 0;
  virtual bool PerformanceMonitorEnabled() = 0;
  virtual void AssertsEnable(bool enable) = 0;
  virtual bool AssertsEnabled() = 0;

 protected:
  virtual ~AMFDebug() = default;
};

// Not reference-counted: owned by the runtime.
class AMFFactory {
 public:
  virtual AMF_RESULT CreateContext(AMFContext** ppContext) = 0;
  // AMF_NOT_SUPPORTED (or AMF_ENCODER_NOT_PRESENT) for an unknown component id.
  virtual AMF_RESULT CreateComponent(AMFContext* pContext, const wchar_t* id,
                                     AMFComponent** ppComponent) = 0;
  virtual AMF_RESULT SetCacheFolder(const wchar_t* path) = 0;
  virtual const wchar_t* GetCacheFolder() = 0;
  virtual AMF_RESULT GetDebug(AMFDebug** ppDebug) = 0;
  virtual AMF_RESULT GetTrace(AMFTrace** ppTrace) = 0;

 protected:
  virtual ~AMFFactory() = default;
};

// Owning pointer with the SDK's name: one reference per non-empty pointer.
template <typename T>
class AMFInterfacePtr_T {
 public:
  AMFInterfacePtr_T() = default;
  AMFInterfacePtr_T(const AMFInterfacePtr_T& other) : p_(other.p_) {
    if (p_) p_->Acquire();
  }
  AMFInterfacePtr_T(AMFInterfacePtr_T&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ~AMFInterfacePtr_T() { Release(); }
  AMFInterfacePtr_T& operator=(AMFInterfacePtr_T other) noexcept {
    T* t = p_;
    p_ = other.p_;
    other.p_ = t;
    return *this;
  }
  void Release() {
    if (p_) {
      T* t = p_;
      p_ = nullptr;
      t->Release();
    }
  }
  // Out-parameter slot; the pointer must be empty or is released first.
  T** operator&() {
    Release();
    return &p_;
  }
  T* GetPtr() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(std::nullptr_t) const { return p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

typedef AMFInterfacePtr_T<AMFInterface> AMFInterfacePtr;
typedef AMFInterfacePtr_T<AMFData> AMFDataPtr;
typedef AMFInterfacePtr_T<AMFBuffer> AMFBufferPtr;
typedef AMFInterfacePtr_T<AMFSurface> AMFSurfacePtr;
typedef AMFInterfacePtr_T<AMFContext> AMFContextPtr;
typedef AMFInterfacePtr_T<AMFComponent> AMFComponentPtr;

}  // namespace amf

// Entry points the runtime library exports with C linkage.
extern "C" {
typedef AMF_RESULT (*AMFInit_Fn)(amf::amf_uint64 version, amf::AMFFactory** ppFactory);
typedef AMF_RESULT (*AMFQueryVersion_Fn)(amf::amf_uint64* pVersion);
}
#define AMF_INIT_FUNCTION_NAME "AMFInit"
#define AMF_QUERY_VERSION_FUNCTION_NAME "AMFQueryVersion"
