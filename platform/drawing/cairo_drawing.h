#pragma once
#include "platform/d2d.h"
#include "platform/graphics.h"
#include "platform/hresult.h"
#include "platform/wic.h"

namespace corvantis {

// Status codes of the drawing and imaging layers, numbered as the Windows components number them.
inline constexpr HRESULT D2DERR_WRONG_STATE = MakeHResult(0x88990001);
inline constexpr HRESULT DWRITE_E_NOFONT = MakeHResult(0x88985002);
inline constexpr HRESULT WINCODEC_ERR_INSUFFICIENTBUFFER = MakeHResult(0x88982F8C);

// Render targets draw with Cairo straight into a texture's BGRA pixels. Drawing is deferred to
// EndDraw; a frame that starts with an opaque fill of the whole target repaints only what changed
// since the previous such frame, so the target must be the only writer of its texture's pixels.
HRESULT CreateCairoD2DFactory(ID2D1Factory1** factory);

// Text formats resolved through fontconfig (with its fallback), glyphs rasterised by FreeType
// through Cairo in grey-scale antialiasing without hinting.
HRESULT CreateFontconfigDWriteFactory(IDWriteFactory** factory);

// Bitmaps in memory and PNG files written with libpng (8-bit RGB, no alpha channel). A file is
// made aside (0644) and renamed into place: a name held by anything but our own regular file
// fails with ERROR_FILE_EXISTS, and nothing is written through a link.
HRESULT CreatePngImagingFactory(IWICImagingFactory** factory);

// The Linux implementation: DRM render nodes plus the software adapter, CPU device, Cairo, libpng.
GraphicsApi& LinuxGraphics();

}  // namespace corvantis
