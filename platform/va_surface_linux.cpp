#include "platform/va_surface.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvantis {

namespace {

// Copies a row into a surface with stores that bypass the cache: nothing on the CPU reads the
// slot again, a frame at 4K is larger than the cache, and a driver's mapping may be
// write-combined. Callers fence once after the last row.
void StreamRow(std::uint8_t* to, const std::uint8_t* from, std::size_t bytes) {
#if defined(__SSE2__)
  const std::size_t head = std::min(bytes, (16 - reinterpret_cast<std::uintptr_t>(to) % 16) % 16);
  std::memcpy(to, from, head);
  std::size_t done = head;
  for (; done + 16 <= bytes; done += 16)
    _mm_stream_si128(reinterpret_cast<__m128i*>(to + done),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done)));
  std::memcpy(to + done, from + done, bytes - done);
#else
  std::memcpy(to, from, bytes);
#endif
}

VAImageFormat BgraFormat() {
  VAImageFormat format{};
  format.fourcc = VA_FOURCC_BGRA;
  format.byte_order = VA_LSB_FIRST;
  format.bits_per_pixel = 32;
  format.depth = 32;
  format.red_mask = 0x00FF0000;
  format.green_mask = 0x0000FF00;
  format.blue_mask = 0x000000FF;
  format.alpha_mask = 0xFF000000;
  return format;
}

}  // namespace

VAStatus CreateBgraSurface(VADisplay display, int width, int height, VASurfaceID* surface) {
  VASurfaceAttrib format{};
  format.type = VASurfaceAttribPixelFormat;
  format.flags = VA_SURFACE_ATTRIB_SETTABLE;
  format.value.type = VAGenericValueTypeInteger;
  format.value.value.i = static_cast<int>(VA_FOURCC_BGRA);
  return vaCreateSurfaces(display, VA_RT_FORMAT_RGB32, static_cast<unsigned>(width),
                          static_cast<unsigned>(height), surface, 1, &format, 1);
}

VaSurfaceCopier::~VaSurfaceCopier() { DropOwnImage(); }

VAStatus VaSurfaceCopier::Write(VASurfaceID surface, int width, int height,
                                const std::uint8_t* pixels, int pitch) {
  return Transfer(surface, width, height, const_cast<std::uint8_t*>(pixels), pitch, true);
}

VAStatus VaSurfaceCopier::Read(VASurfaceID surface, int width, int height, std::uint8_t* pixels,
                               int pitch) {
  // Whatever still writes the surface (the processor, a put) is done first.
  if (const VAStatus s = vaSyncSurface(display_, surface); s != VA_STATUS_SUCCESS) return s;
  return Transfer(surface, width, height, pixels, pitch, false);
}

VAStatus VaSurfaceCopier::Transfer(VASurfaceID surface, int width, int height, std::uint8_t* pixels,
                                   int pitch, bool write) {
  if (derives_) {
    VAImage derived{};
    if (vaDeriveImage(display_, surface, &derived) == VA_STATUS_SUCCESS) {
      const bool usable = derived.format.fourcc == VA_FOURCC_BGRA && derived.width >= width &&
                          derived.height >= height;
      const VAStatus status =
          usable ? CopyRows(derived, width, height, pixels, pitch, write) : VA_STATUS_SUCCESS;
      vaDestroyImage(display_, derived.image_id);
      if (usable) return status;
    }
    // Refused (radeonsi for some surfaces) or another layout: an image of our own from now on.
    derives_ = false;
  }
  if (const VAStatus s = OwnImage(width, height); s != VA_STATUS_SUCCESS) return s;
  const auto w = static_cast<unsigned>(width), h = static_cast<unsigned>(height);
  if (!write)
    if (const VAStatus s = vaGetImage(display_, surface, 0, 0, w, h, own_.image_id);
        s != VA_STATUS_SUCCESS)
      return s;
  if (const VAStatus s = CopyRows(own_, width, height, pixels, pitch, write);
      s != VA_STATUS_SUCCESS)
    return s;
  return write ? vaPutImage(display_, surface, own_.image_id, 0, 0, w, h, 0, 0, w, h)
               : VA_STATUS_SUCCESS;
}

VAStatus VaSurfaceCopier::CopyRows(const VAImage& image, int width, int height,
                                   std::uint8_t* pixels, int pitch, bool write) {
  void* mapped = nullptr;
  if (const VAStatus s = vaMapBuffer(display_, image.buf, &mapped); s != VA_STATUS_SUCCESS)
    return s;
  auto* base = static_cast<std::uint8_t*>(mapped) + image.offsets[0];
  const std::size_t rowBytes = std::size_t{4} * static_cast<std::size_t>(width);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* surfaceRow = base + std::size_t{image.pitches[0]} * static_cast<std::size_t>(y);
    std::uint8_t* memoryRow = pixels + static_cast<std::ptrdiff_t>(pitch) * y;
    if (write)
      StreamRow(surfaceRow, memoryRow, rowBytes);
    else
      std::memcpy(memoryRow, surfaceRow, rowBytes);
  }
#if defined(__SSE2__)
  if (write) _mm_sfence();  // the streamed rows are visible before the driver sees the unmap
#endif
  return vaUnmapBuffer(display_, image.buf);
}

VAStatus VaSurfaceCopier::OwnImage(int width, int height) {
  if (hasOwn_ && own_.width == width && own_.height == height) return VA_STATUS_SUCCESS;
  DropOwnImage();
  VAImageFormat format = BgraFormat();
  const VAStatus status = vaCreateImage(display_, &format, width, height, &own_);
  hasOwn_ = status == VA_STATUS_SUCCESS;
  return status;
}

void VaSurfaceCopier::DropOwnImage() {
  if (hasOwn_) vaDestroyImage(display_, own_.image_id);
  hasOwn_ = false;
}

}  // namespace corvantis
