#pragma once
#include <va/va.h>

#include <cstdint>

namespace corvantis {

// A BGRA surface of `width` x `height` on `display`; the driver's status.
VAStatus CreateBgraSurface(VADisplay display, int width, int height, VASurfaceID* surface);

// Moves BGRA rows in and out of VA surfaces of one display: through the surface's own memory
// (vaDeriveImage) where the driver derives it, else through an image of its own (vaPutImage,
// vaGetImage), kept for the next copy of the same size. One copy at a time.
class VaSurfaceCopier {
 public:
  explicit VaSurfaceCopier(VADisplay display) : display_(display) {}
  ~VaSurfaceCopier();
  VaSurfaceCopier(const VaSurfaceCopier&) = delete;
  VaSurfaceCopier& operator=(const VaSurfaceCopier&) = delete;

  // `width` x `height` pixels from / to memory whose rows are `pitch` bytes apart; the status of
  // the call that failed.
  VAStatus Write(VASurfaceID surface, int width, int height, const std::uint8_t* pixels, int pitch);
  VAStatus Read(VASurfaceID surface, int width, int height, std::uint8_t* pixels, int pitch);

 private:
  VAStatus Transfer(VASurfaceID surface, int width, int height, std::uint8_t* pixels, int pitch,
                    bool write);
  // Rows between `pixels` and the mapped image.
  VAStatus CopyRows(const VAImage& image, int width, int height, std::uint8_t* pixels, int pitch,
                    bool write);
  VAStatus OwnImage(int width, int height);
  void DropOwnImage();

  VADisplay display_;
  bool derives_ = true;  // until the driver refuses once
  VAImage own_{};
  bool hasOwn_ = false;
};

}  // namespace corvantis
