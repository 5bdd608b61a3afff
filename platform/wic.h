#pragma once
#include <cstdint>
#include <string>

#include "platform/com_ptr.h"
#include "platform/hresult.h"

namespace corvantis {

// A picture held by the imaging factory: 32 bits a pixel, BGR with the fourth byte ignored.
struct IWICBitmap : IUnknownLite {
  virtual std::uint32_t Width() const = 0;
  virtual std::uint32_t Height() const = 0;
};

struct IWICImagingFactory : IUnknownLite {
  // Copies `height` rows of `stride` bytes (32bpp BGR) into a new bitmap.
  virtual HRESULT CreateBitmapFromMemory(std::uint32_t width, std::uint32_t height,
                                         std::uint32_t stride, std::uint32_t bufferSize,
                                         const std::uint8_t* pixels, IWICBitmap** bitmap) = 0;
  // Writes the bitmap as PNG, replacing an existing file. Failure codes of the file system come
  // back as 0x8007xxxx.
  virtual HRESULT WritePng(IWICBitmap* bitmap, const std::wstring& path) = 0;
};

}  // namespace corvantis
