#pragma once
#include <cstdint>

namespace corvantis {

struct Rgb {
  int R, G, B;
};

// The luma weights of red and blue.
struct Matrix {
  double Kr, Kb;
};
constexpr Matrix kBt601{0.299, 0.114}, kBt709{0.2126, 0.0722};

struct Yuv {
  double Y, U, V;
};

// Limited-range Y'CbCr of a full-range colour, in floating point: the reference the conversions
// of the CPU path and the drivers' processors are held to.
inline Yuv LimitedYuv(Rgb c, Matrix m = kBt601) {
  const double luma = (m.Kr * c.R + (1 - m.Kr - m.Kb) * c.G + m.Kb * c.B) / 255;
  return {16 + 219 * luma, 128 + 224 * (c.B / 255.0 - luma) / (2 * (1 - m.Kb)),
          128 + 224 * (c.R / 255.0 - luma) / (2 * (1 - m.Kr))};
}

// Writes `c` as one opaque BGRA pixel.
inline void PutBgra(std::uint8_t* pixel, Rgb c) {
  pixel[0] = static_cast<std::uint8_t>(c.B);
  pixel[1] = static_cast<std::uint8_t>(c.G);
  pixel[2] = static_cast<std::uint8_t>(c.R);
  pixel[3] = 255;
}

}  // namespace corvantis
