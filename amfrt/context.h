#pragma once
#include <mutex>

#include "amfrt/property_storage.h"
#include "platform/com_ptr.h"
#include "platform/d3d11.h"

namespace corvantis::amfrt {

// An AMFContext on the program's Direct3D 11 device (the CPU device here). It makes texture
// surfaces and host buffers.
class Context final : public PropertyStorageImpl<amf::AMFContext> {
 public:
  Context() = default;

  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override;
  // Releases the device.
  AMF_RESULT Terminate() override;
  // AMF_INVALID_ARG for a null device, AMF_NOT_SUPPORTED for other versions than 11.0 / 11.1,
  // AMF_ALREADY_INITIALIZED for a second, different device.
  AMF_RESULT InitDX11(void* pDevice, amf::AMF_DX_VERSION dxVersionRequired) override;
  void* GetDX11Device(amf::AMF_DX_VERSION dxVersionRequired) override;
  AMF_RESULT LockDX11() override;
  AMF_RESULT UnlockDX11() override;
  AMF_RESULT AllocBuffer(amf::AMF_MEMORY_TYPE type, amf::amf_size size,
                         amf::AMFBuffer** ppBuffer) override;
  // AMF_NOT_INITIALIZED before InitDX11.
  AMF_RESULT CreateSurfaceFromDX11Native(void* pDX11Surface, amf::AMFSurface** ppSurface,
                                         amf::AMFSurfaceObserver* pObserver) override;

 private:
  ~Context() override = default;

  std::mutex mutex_;
  com_ptr<ID3D11Device> device_;
};

}  // namespace corvantis::amfrt
