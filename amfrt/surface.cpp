#include "amfrt/surface.h"

#include <climits>
#include <new>

namespace corvantis::amfrt {

TextureSurface::TextureSurface(com_ptr<ID3D11Texture2D> texture, const D3D11_TEXTURE2D_DESC& desc,
                               amf::AMFSurfaceObserver* observer)
    : texture_(std::move(texture)),
      width_(static_cast<amf::amf_int32>(desc.Width)),
      height_(static_cast<amf::amf_int32>(desc.Height)),
      observer_(observer) {}

AMF_RESULT TextureSurface::Create(ID3D11Texture2D* texture, amf::AMFSurfaceObserver* observer,
                                  amf::AMFSurface** out) {
  if (out == nullptr) return AMF_INVALID_POINTER;
  *out = nullptr;
  if (texture == nullptr) return AMF_INVALID_ARG;
  D3D11_TEXTURE2D_DESC desc;
  texture->GetDesc(&desc);
  if (desc.Format != DXGI_FORMAT_B8G8R8A8_UNORM) return AMF_SURFACE_FORMAT_NOT_SUPPORTED;
  if (desc.Width == 0 || desc.Height == 0 || desc.Width > INT_MAX || desc.Height > INT_MAX ||
      (texture->Pixels() == nullptr && texture->VideoSurface() == VA_INVALID_SURFACE))
    return AMF_INVALID_ARG;
  auto* surface = new (std::nothrow)
      TextureSurface(com_ptr<ID3D11Texture2D>::copy_from(texture), desc, observer);
  if (surface == nullptr) return AMF_OUT_OF_MEMORY;
  *out = surface;
  return AMF_OK;
}

AMF_RESULT TextureSurface::QueryInterface(const amf::AMFGuid& iid, void** out) {
  return QueryInterfaces<TextureSurface, amf::AMFSurface, amf::AMFData, amf::AMFPropertyStorage,
                         amf::AMFInterface>(this, iid, out);
}

void TextureSurface::OnFinalRelease() {
  if (observer_ != nullptr) observer_->OnSurfaceDataRelease(this);
  delete this;
}

}  // namespace corvantis::amfrt
