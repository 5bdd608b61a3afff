// What a decoder shows of the runtime's streams: the drawn colours, at the requested size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/amfrt/colour_reference.h"
#include "tests/amfrt/runtime_support.h"

namespace corvantis {

namespace {

// Decoded samples of flat areas stay this close to the conversion of their colour at the program's
// low bit rate (HEVC's chroma loses most, up to 7). A wrong matrix moves saturated colours by 10 to
// 30 (BT.709: green's luma 28, red's Cb 12), full range moves white's luma by 20.
constexpr double kLumaTolerance = 6.0;
constexpr double kChromaTolerance = 8.0;

constexpr Rgb kBlack{0, 0, 0}, kKhaki{240, 230, 140}, kTomato{255, 99, 71};

struct Area {
  int X0, Y0, X1, Y1;  // pixels, x1 and y1 excluded; even, so that chroma is not shared
  Rgb Colour;
};

// Upper half: patches of the program's text and line colours and of saturated colours; lower
// half: black, crossed by a tomato band, reaching the right and bottom edges.
std::vector<Area> Layout(int width, int height) {
  const std::vector<Rgb> patches = {kKhaki,          kTomato,        {255, 0, 0},   {0, 255, 0},
                                    {0, 0, 255},     {255, 255, 0},  {0, 255, 255}, {255, 0, 255},
                                    {255, 255, 255}, {128, 128, 128}};
  const int columns = 5, rows = 2;
  const int cellWidth = width / columns & ~1, cellHeight = height / 2 / rows & ~1;
  std::vector<Area> areas;
  areas.push_back({0, 0, width, height, kBlack});
  for (int i = 0; i < columns * rows; ++i) {
    const int x0 = i % columns * cellWidth, y0 = i / columns * cellHeight;
    // The last column reaches the right edge.
    const int x1 = i % columns == columns - 1 ? width : x0 + cellWidth;
    areas.push_back({x0, y0, x1, y0 + cellHeight, patches[static_cast<std::size_t>(i)]});
  }
  const int band = (height * 3 / 4) & ~1;
  areas.push_back({0, band, width, band + 16, kTomato});
  return areas;
}

void Paint(ID3D11Texture2D* texture, const std::vector<Area>& areas) {
  for (const Area& a : areas)
    for (int y = a.Y0; y < a.Y1; ++y) {
      std::uint8_t* row = texture->Pixels() + static_cast<std::size_t>(y) * texture->RowPitch();
      for (int x = a.X0; x < a.X1; ++x) PutBgra(row + 4 * x, a.Colour);
    }
}

// The colour each pixel was drawn with, or none within `margin` of a change of colour (where the
// encoders smear edges). Picture edges are no change: their pixels are checked.
std::vector<const Rgb*> Expected(const std::vector<Area>& areas, int width, int height,
                                 int margin) {
  std::vector<const Rgb*> drawn(static_cast<std::size_t>(width) * height);
  for (const Area& a : areas)
    for (int y = a.Y0; y < a.Y1; ++y)
      for (int x = a.X0; x < a.X1; ++x) drawn[static_cast<std::size_t>(y) * width + x] = &a.Colour;
  std::vector<const Rgb*> expected(drawn.size());
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Rgb* c = drawn[static_cast<std::size_t>(y) * width + x];
      bool uniform = true;
      for (int dy = -margin; dy <= margin && uniform; ++dy)
        for (int dx = -margin; dx <= margin && uniform; ++dx) {
          const int nx = x + dx, ny = y + dy;
          if (nx >= 0 && ny >= 0 && nx < width && ny < height)
            uniform = drawn[static_cast<std::size_t>(ny) * width + nx] == c;
        }
      if (uniform) expected[static_cast<std::size_t>(y) * width + x] = c;
    }
  return expected;
}

class Colours : public ::testing::TestWithParam<std::tuple<TestCodec, std::pair<int, int>>> {};

TEST_P(Colours, DecodeAsTheirBt601LimitedRangeValuesAtTheRequestedSize) {
  const TestCodec codec = std::get<0>(GetParam());
  const auto [width, height] = std::get<1>(GetParam());
  EncoderRig rig(EncoderConfig{codec, width, height});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  const std::vector<Area> areas = Layout(width, height);
  constexpr std::uint32_t kFrames = 3;
  const std::vector<Output> outputs = EncodeFrames(
      rig, kFrames, 2, [&](ID3D11Texture2D* texture, std::uint32_t) { Paint(texture, areas); });
  ASSERT_EQ(outputs.size(), kFrames);
  const StreamFile file(outputs, "colours-" + std::to_string(width) + "x" + std::to_string(height) +
                                     NamesOf(codec).Extension);

  // The stream says how its samples are to be read, so that players show what was drawn.
  EXPECT_EQ(Probe(file.path(), codec,
                  "-show_entries "
                  "stream=width,height,color_range,color_space,color_transfer,color_primaries"),
            (std::vector<std::string>{std::to_string(width), std::to_string(height), "tv",
                                      "smpte170m", "smpte170m", "smpte170m"}));

  const std::string raw = DecodedYuv420(file.path(), codec);
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  const int chromaWidth = width / 2;
  const std::size_t frameBytes = luma * 3 / 2;
  ASSERT_EQ(raw.size(), frameBytes * kFrames);
  const std::vector<const Rgb*> expected = Expected(areas, width, height, 8);
  for (std::uint32_t k = 0; k < kFrames; ++k) {
    const auto* frame = reinterpret_cast<const std::uint8_t*>(raw.data()) + k * frameBytes;
    int checked = 0, wrong = 0;
    std::string first;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const Rgb* c = expected[static_cast<std::size_t>(y) * width + x];
        if (c == nullptr) continue;
        const Yuv want = LimitedYuv(*c);
        const std::size_t chroma = static_cast<std::size_t>(y / 2) * chromaWidth + x / 2;
        const double got[] = {static_cast<double>(frame[static_cast<std::size_t>(y) * width + x]),
                              static_cast<double>(frame[luma + chroma]),
                              static_cast<double>(frame[luma + luma / 4 + chroma])};
        ++checked;
        if (std::abs(got[0] - want.Y) > kLumaTolerance ||
            std::abs(got[1] - want.U) > kChromaTolerance ||
            std::abs(got[2] - want.V) > kChromaTolerance) {
          if (wrong++ == 0) {
            std::ostringstream text;
            text << "(" << x << "," << y << ") drawn " << c->R << "," << c->G << "," << c->B
                 << ": YUV " << got[0] << "," << got[1] << "," << got[2] << ", want " << want.Y
                 << "," << want.U << "," << want.V;
            first = text.str();
          }
        }
      }
    EXPECT_GT(checked, width * height / 3);
    EXPECT_EQ(wrong, 0) << "frame " << k << ", first: " << first;
  }
}

std::string CaseName(const ::testing::TestParamInfo<Colours::ParamType>& param) {
  const std::pair<int, int> size = std::get<1>(param.param);
  return std::string(std::get<0>(param.param) == TestCodec::Avc ? "Avc" : "Hevc") + "_" +
         std::to_string(size.first) + "x" + std::to_string(size.second);
}

// 16 and 64 divide neither side of the last two sizes.
INSTANTIATE_TEST_SUITE_P(CodecsAndSizes, Colours,
                         ::testing::Combine(::testing::Values(TestCodec::Avc, TestCodec::Hevc),
                                            ::testing::Values(std::pair{320, 180},
                                                              std::pair{330, 186},
                                                              std::pair{250, 142})),
                         CaseName);

}  // namespace

}  // namespace corvantis
