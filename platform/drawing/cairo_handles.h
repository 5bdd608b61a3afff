#pragma once
#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <memory>

#include "platform/hresult.h"

// Owning handles for the C libraries of the drawing layer.
namespace corvantis::drawing {

template <auto Destroy>
struct Deleter {
  template <typename T>
  void operator()(T* p) const noexcept {
    if (p != nullptr) Destroy(p);
  }
};

using SurfacePtr = std::unique_ptr<cairo_surface_t, Deleter<cairo_surface_destroy>>;
using ContextPtr = std::unique_ptr<cairo_t, Deleter<cairo_destroy>>;
using FontFacePtr = std::unique_ptr<cairo_font_face_t, Deleter<cairo_font_face_destroy>>;
using ScaledFontPtr = std::unique_ptr<cairo_scaled_font_t, Deleter<cairo_scaled_font_destroy>>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, Deleter<cairo_font_options_destroy>>;
using PatternPtr = std::unique_ptr<FcPattern, Deleter<FcPatternDestroy>>;
using FontSetPtr = std::unique_ptr<FcFontSet, Deleter<FcFontSetDestroy>>;

// HRESULT for a Cairo failure status.
inline HRESULT HResultFromCairo(cairo_status_t status) {
  if (status == CAIRO_STATUS_SUCCESS) return S_OK;
  return status == CAIRO_STATUS_NO_MEMORY ? E_OUTOFMEMORY : E_FAIL;
}

}  // namespace corvantis::drawing
