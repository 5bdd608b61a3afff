#include "amfrt/context.h"

#include <new>

#include "amfrt/buffer.h"
#include "amfrt/debug.h"
#include "amfrt/surface.h"
#include "amfrt/trace.h"

namespace corvantis::amfrt {
namespace {
constexpr wchar_t kScope[] = L"AMFContext";
}

AMF_RESULT Context::QueryInterface(const amf::AMFGuid& iid, void** out) {
  return QueryInterfaces<amf::AMFContext, amf::AMFPropertyStorage, amf::AMFInterface>(this, iid,
                                                                                      out);
}

AMF_RESULT Context::Terminate() {
  std::lock_guard lock(mutex_);
  device_.reset();
  return AMF_OK;
}

AMF_RESULT Context::InitDX11(void* pDevice, amf::AMF_DX_VERSION dxVersionRequired) {
  if (pDevice == nullptr) return Misuse(AMF_INVALID_ARG, kScope, L"InitDX11 without a device");
  if (dxVersionRequired != amf::AMF_DX11_0 && dxVersionRequired != amf::AMF_DX11_1) {
    TraceLine(amf::AMF_TRACE_ERROR, kScope, L"InitDX11: DirectX version %d is not supported",
              static_cast<int>(dxVersionRequired));
    return AMF_NOT_SUPPORTED;
  }
  auto* device = static_cast<ID3D11Device*>(pDevice);
  std::lock_guard lock(mutex_);
  if (device_ && device_.get() != device)
    return Misuse(AMF_ALREADY_INITIALIZED, kScope, L"InitDX11 with a second device");
  device_ = com_ptr<ID3D11Device>::copy_from(device);
  return AMF_OK;
}

void* Context::GetDX11Device(amf::AMF_DX_VERSION) {
  std::lock_guard lock(mutex_);
  return device_.get();
}

// The CPU device serialises its own copies; there is nothing to lock.
AMF_RESULT Context::LockDX11() { return AMF_OK; }
AMF_RESULT Context::UnlockDX11() { return AMF_OK; }

AMF_RESULT Context::AllocBuffer(amf::AMF_MEMORY_TYPE type, amf::amf_size size,
                                amf::AMFBuffer** ppBuffer) {
  if (ppBuffer == nullptr) return AMF_INVALID_POINTER;
  *ppBuffer = nullptr;
  if (type != amf::AMF_MEMORY_HOST) return AMF_NOT_SUPPORTED;
  try {
    *ppBuffer = new HostBuffer(size);
  } catch (const std::bad_alloc&) {
    return AMF_OUT_OF_MEMORY;
  }
  return AMF_OK;
}

AMF_RESULT Context::CreateSurfaceFromDX11Native(void* pDX11Surface, amf::AMFSurface** ppSurface,
                                                amf::AMFSurfaceObserver* pObserver) {
  if (ppSurface == nullptr) return AMF_INVALID_POINTER;
  *ppSurface = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!device_)
      return Misuse(AMF_NOT_INITIALIZED, kScope, L"CreateSurfaceFromDX11Native before InitDX11");
  }
  const AMF_RESULT result =
      TextureSurface::Create(static_cast<ID3D11Texture2D*>(pDX11Surface), pObserver, ppSurface);
  if (result != AMF_OK)
    TraceLine(amf::AMF_TRACE_ERROR, kScope, L"CreateSurfaceFromDX11Native failed: %ls",
              ResultName(result));
  return result;
}

}  // namespace corvantis::amfrt
