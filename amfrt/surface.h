#pragma once
#include "amfrt/property_storage.h"
#include "platform/com_ptr.h"
#include "platform/d3d11.h"

namespace corvantis::amfrt {

// An AMFSurface over the program's BGRA texture, in CPU memory or a VA surface. It holds one
// reference to the texture and no pixels of its own: the encoder reads the texture when it
// encodes the frame.
class TextureSurface final : public DataImpl<amf::AMFSurface> {
 public:
  // The runtime's own identifier, to find its surfaces among submitted AMFData.
  AMF_DECLARE_IID(TextureSurface, 0x6f1c2a57, 0x3e0b, 0x4d7e, 0x9a, 0x41, 0x52, 0xc8, 0x0d, 0x97,
                  0xe3, 0x1b)

  // AMF_INVALID_ARG for a null texture, AMF_SURFACE_FORMAT_NOT_SUPPORTED unless it is BGRA.
  static AMF_RESULT Create(ID3D11Texture2D* texture, amf::AMFSurfaceObserver* observer,
                           amf::AMFSurface** out);

  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override;
  amf::AMF_MEMORY_TYPE GetMemoryType() override { return amf::AMF_MEMORY_DX11; }
  amf::AMF_DATA_TYPE GetDataType() override { return amf::AMF_DATA_SURFACE; }
  bool IsReusable() override { return true; }
  amf::AMF_SURFACE_FORMAT GetFormat() override { return amf::AMF_SURFACE_BGRA; }
  amf::amf_int32 GetWidth() override { return width_; }
  amf::amf_int32 GetHeight() override { return height_; }

  ID3D11Texture2D* Texture() const { return texture_.get(); }

 private:
  TextureSurface(com_ptr<ID3D11Texture2D> texture, const D3D11_TEXTURE2D_DESC& desc,
                 amf::AMFSurfaceObserver* observer);
  ~TextureSurface() override = default;
  void OnFinalRelease() override;

  com_ptr<ID3D11Texture2D> texture_;
  amf::amf_int32 width_;
  amf::amf_int32 height_;
  amf::AMFSurfaceObserver* observer_;
};

}  // namespace corvantis::amfrt
