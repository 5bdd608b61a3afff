#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "frame_test_support.h"
#include "platform/win32_error.h"
#include "scenarios/frame_canvas.h"
#include "tests/fakes/files.h"

namespace corvantis {

namespace {

struct Decoded {
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  bool HasAlpha = true;
  std::vector<std::uint8_t> Rgb;
};

Decoded ReadPng(const std::filesystem::path& path) {
  Decoded out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << image.message;
    return out;
  }
  out.Width = image.width;
  out.Height = image.height;
  out.HasAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = PNG_FORMAT_RGB;
  out.Rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.Rgb.data(), 0, nullptr))
    ADD_FAILURE() << image.message;
  return out;
}

class PngImagingTest : public ::testing::Test {
 protected:
  void SetUp() override { InitDrawingSession(session_); }

  // A rendered frame with every fourth byte set to a varying value that the PNG must ignore.
  com_ptr<IWICBitmap> FrameBitmap(std::uint32_t width, std::uint32_t height) {
    CreateFrameCanvas(session_, width, height);
    ChartPoints points;
    RenderFrame(session_, 0, {width, height, 60, 1, 30}, 0, 1800, 0, 0, points);
    RenderFrame(session_, 0, {width, height, 60, 1, 30}, 900, 1800, 4, 30, points);
    ID3D11Texture2D* texture = session_.FrameTexture.get();
    for (std::uint32_t y = 0; y < height; ++y)
      for (std::uint32_t x = 0; x < width; ++x)
        texture->Pixels()[std::size_t{y} * texture->RowPitch() + x * 4 + 3] =
            static_cast<std::uint8_t>(x + y);
    com_ptr<IWICBitmap> bitmap;
    EXPECT_EQ(session_.WicFactory->CreateBitmapFromMemory(width, height, texture->RowPitch(),
                                                          texture->RowPitch() * height,
                                                          texture->Pixels(), bitmap.put()),
              S_OK);
    return bitmap;
  }

  BenchmarkSession session_;
  const TempDir temp_;
  const std::filesystem::path& dir_ = temp_.path();
};

// Over an existing file, which is replaced whole.
TEST_F(PngImagingTest, WritesTheBgrPixelsAsRgb) {
  const auto path = dir_ / "frame.h264.png";
  std::ofstream(path, std::ios::binary) << std::string(4 << 20, 'j');
  com_ptr<IWICBitmap> bitmap = FrameBitmap(640, 360);
  ID3D11Texture2D* texture = session_.FrameTexture.get();
  const std::vector<std::uint8_t> drawn = VisibleBytes(texture);
  // The bitmap holds a copy: later drawing does not reach the file.
  ChartPoints points;
  DrawFrame(session_, L"changed", 0, 0, 10, points);

  ASSERT_EQ(session_.WicFactory->WritePng(bitmap.get(), path.wstring()), S_OK);
  EXPECT_LT(std::filesystem::file_size(path), 1u << 20);
  const Decoded png = ReadPng(path);
  EXPECT_EQ(png.Width, 640u);
  EXPECT_EQ(png.Height, 360u);
  EXPECT_FALSE(png.HasAlpha);
  ASSERT_EQ(png.Rgb.size(), 640u * 360u * 3u);
  std::size_t khaki = 0;
  for (std::size_t i = 0; i < 640u * 360u; ++i) {
    ASSERT_EQ(png.Rgb[i * 3 + 0], drawn[i * 4 + 2]) << i;
    ASSERT_EQ(png.Rgb[i * 3 + 1], drawn[i * 4 + 1]) << i;
    ASSERT_EQ(png.Rgb[i * 3 + 2], drawn[i * 4 + 0]) << i;
    if (png.Rgb[i * 3] == 240 && png.Rgb[i * 3 + 2] == 140) ++khaki;
  }
  EXPECT_GT(khaki, 0u);
}

TEST_F(PngImagingTest, FileSystemFailuresComeBackAsWin32Codes) {
  com_ptr<IWICBitmap> bitmap = FrameBitmap(64, 36);
  EXPECT_EQ(session_.WicFactory->WritePng(bitmap.get(), (dir_ / "missing" / "a.png").wstring()),
            HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  // A directory in the file's place cannot be opened for writing, even by root.
  std::filesystem::create_directories(dir_ / "taken.png");
  EXPECT_EQ(session_.WicFactory->WritePng(bitmap.get(), (dir_ / "taken.png").wstring()),
            HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  // A link at the name is not ours to replace, and is never written through.
  std::filesystem::create_symlink("/dev/full", dir_ / "device.png");
  EXPECT_EQ(session_.WicFactory->WritePng(bitmap.get(), (dir_ / "device.png").wstring()),
            HRESULT_FROM_WIN32(ERROR_FILE_EXISTS));
  EXPECT_EQ(session_.WicFactory->WritePng(bitmap.get(), std::wstring(1, wchar_t(0xD800))),
            HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(PngImaging, BitmapArgumentsAreChecked) {
  com_ptr<IWICImagingFactory> factory;
  ASSERT_EQ(CreatePngImagingFactory(factory.put()), S_OK);
  std::vector<std::uint8_t> pixels(64 * 10);
  com_ptr<IWICBitmap> bitmap;
  // The last row needs only its own pixels, not a whole stride.
  EXPECT_EQ(factory->CreateBitmapFromMemory(10, 10, 64, 64 * 9 + 40, pixels.data(), bitmap.put()),
            S_OK);
  EXPECT_EQ(bitmap->Width(), 10u);
  EXPECT_EQ(factory->CreateBitmapFromMemory(10, 10, 64, 64 * 9 + 39, pixels.data(), bitmap.put()),
            WINCODEC_ERR_INSUFFICIENTBUFFER);
  EXPECT_EQ(factory->CreateBitmapFromMemory(10, 10, 36, 640, pixels.data(), bitmap.put()),
            E_INVALIDARG);
  EXPECT_EQ(factory->CreateBitmapFromMemory(0, 10, 64, 640, pixels.data(), bitmap.put()),
            E_INVALIDARG);
  EXPECT_EQ(factory->CreateBitmapFromMemory(10, 10, 64, 640, nullptr, bitmap.put()), E_INVALIDARG);
  EXPECT_EQ(factory->WritePng(nullptr, L"/tmp/x.png"), E_INVALIDARG);
}

}  // namespace

}  // namespace corvantis
