#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/drawing/cairo_drawing.h"
#include "platform/graphics.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

// A session with the CPU device (on the render node `node`, if any) and the Cairo, fontconfig and
// libpng factories, as the benchmark session leaves it before the first clip.
inline void InitDrawingSession(BenchmarkSession& session, const std::string& node = "") {
  ASSERT_EQ(CreateCpuDevice(session.Device.put(), session.DeviceContext.put(), node), S_OK);
  ASSERT_EQ(CreateCairoD2DFactory(session.D2DFactory.put()), S_OK);
  ASSERT_EQ(CreateFontconfigDWriteFactory(session.DWriteFactory.put()), S_OK);
  ASSERT_EQ(CreatePngImagingFactory(session.WicFactory.put()), S_OK);
  session.TextureDescription.MipLevels = 1;
  session.TextureDescription.BindFlags |= D3D11_BIND_RENDER_TARGET;
}

struct Bgra {
  std::uint8_t B, G, R, A;
  bool operator==(const Bgra&) const = default;
};

inline Bgra PixelAt(ID3D11Texture2D* texture, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* p =
      texture->Pixels() + std::size_t{y} * texture->RowPitch() + std::size_t{x} * 4;
  return {p[0], p[1], p[2], p[3]};
}

// The visible bytes of every row (row padding excluded).
inline std::vector<std::uint8_t> VisibleBytes(ID3D11Texture2D* texture) {
  D3D11_TEXTURE2D_DESC desc;
  texture->GetDesc(&desc);
  std::vector<std::uint8_t> bytes(std::size_t{desc.Width} * 4 * desc.Height);
  for (std::uint32_t y = 0; y < desc.Height; ++y)
    std::memcpy(bytes.data() + std::size_t{y} * desc.Width * 4,
                texture->Pixels() + std::size_t{y} * texture->RowPitch(),
                std::size_t{desc.Width} * 4);
  return bytes;
}

// First differing pixel of two equally sized textures, as "x,y", or empty.
inline std::string FirstDifference(ID3D11Texture2D* a, ID3D11Texture2D* b) {
  D3D11_TEXTURE2D_DESC desc;
  a->GetDesc(&desc);
  for (std::uint32_t y = 0; y < desc.Height; ++y)
    for (std::uint32_t x = 0; x < desc.Width; ++x)
      if (!(PixelAt(a, x, y) == PixelAt(b, x, y)))
        return std::to_string(x) + "," + std::to_string(y);
  return {};
}

}  // namespace corvantis
