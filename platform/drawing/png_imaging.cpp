#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/drawing/cairo_drawing.h"
#include "platform/safe_file.h"
#include "platform/utf.h"
#include "platform/win32_error.h"

namespace corvantis {

namespace {

class MemoryBitmap final : public RefCounted<IWICBitmap> {
 public:
  MemoryBitmap(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> pixels)
      : width_(width), height_(height), pixels_(std::move(pixels)) {}
  std::uint32_t Width() const override { return width_; }
  std::uint32_t Height() const override { return height_; }
  // Rows of Width() * 4 bytes, blue first.
  const std::uint8_t* Row(std::uint32_t y) const {
    return pixels_.data() + std::size_t{y} * width_ * 4;
  }

 private:
  std::uint32_t width_;
  std::uint32_t height_;
  std::vector<std::uint8_t> pixels_;
};

struct PngStructDeleter {
  void operator()(png_struct* png) const noexcept { png_destroy_write_struct(&png, nullptr); }
};
using PngStructPtr = std::unique_ptr<png_struct, PngStructDeleter>;

struct PngInfoDeleter {
  png_struct* Png;
  void operator()(png_info* info) const noexcept { png_destroy_info_struct(Png, &info); }
};
using PngInfoPtr = std::unique_ptr<png_info, PngInfoDeleter>;

// libpng reports errors by longjmp; nothing with a destructor lives in the frames it crosses.
void PngError(png_structp png, png_const_charp) { std::longjmp(png_jmpbuf(png), 1); }
void PngWarning(png_structp, png_const_charp) {}

// The encoded bytes collect in memory: the file is written whole once the image is done.
struct Encoded {
  std::string Bytes;
  bool OutOfMemory = false;
};

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  auto* encoded = static_cast<Encoded*>(png_get_io_ptr(png));
  try {
    encoded->Bytes.append(reinterpret_cast<const char*>(data), length);
  } catch (const std::bad_alloc&) {
    encoded->OutOfMemory = true;
  }
  // Outside the handler: the jump must not leave a caught exception behind.
  if (encoded->OutOfMemory) png_error(png, "out of memory");
}
void PngFlush(png_structp) {}

// The pixels go out as 8-bit RGB: libpng drops the fourth byte and swaps blue and red. zlib's
// fastest level and the one Sub filter (libpng otherwise tries all five on every row) keep the
// snapshot short, which counts in the clip's elapsed time; the flat frames still compress well.
bool EncodePng(png_structp png, png_infop info, const MemoryBitmap& bitmap) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, bitmap.Width(), bitmap.Height(), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_set_bgr(png);
  for (std::uint32_t y = 0; y < bitmap.Height(); ++y)
    png_write_row(png, const_cast<png_bytep>(bitmap.Row(y)));
  png_write_end(png, info);
  return true;
}

class PngImagingFactory final : public RefCounted<IWICImagingFactory> {
 public:
  HRESULT CreateBitmapFromMemory(std::uint32_t width, std::uint32_t height, std::uint32_t stride,
                                 std::uint32_t bufferSize, const std::uint8_t* pixels,
                                 IWICBitmap** bitmap) override {
    if (bitmap == nullptr) return E_INVALIDARG;
    *bitmap = nullptr;
    if (pixels == nullptr || width == 0 || height == 0 || width > 0x3FFFFFFFu) return E_INVALIDARG;
    const std::uint64_t rowBytes = std::uint64_t{width} * 4;
    if (stride < rowBytes) return E_INVALIDARG;
    if (bufferSize < std::uint64_t{stride} * (height - 1) + rowBytes)
      return WINCODEC_ERR_INSUFFICIENTBUFFER;
    std::vector<std::uint8_t> copy;
    try {
      copy.resize(rowBytes * height);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    for (std::uint32_t y = 0; y < height; ++y)
      std::memcpy(copy.data() + rowBytes * y, pixels + std::uint64_t{stride} * y, rowBytes);
    *bitmap = new (std::nothrow) MemoryBitmap(width, height, std::move(copy));
    return *bitmap == nullptr ? E_OUTOFMEMORY : S_OK;
  }

  HRESULT WritePng(IWICBitmap* bitmap, const std::wstring& path) override {
    auto* source = dynamic_cast<MemoryBitmap*>(bitmap);
    if (source == nullptr || path.empty()) return E_INVALIDARG;
    const auto narrowPath = WideToUtf8Strict(path);
    if (!narrowPath) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    Encoded output;
    bool encoded = false;
    {
      PngStructPtr png(
          png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning));
      PngInfoPtr info(png ? png_create_info_struct(png.get()) : nullptr, PngInfoDeleter{png.get()});
      if (!info) return E_OUTOFMEMORY;
      png_set_write_fn(png.get(), &output, PngWrite, PngFlush);
      encoded = EncodePng(png.get(), info.get(), *source);
    }
    if (!encoded) return output.OutOfMemory ? E_OUTOFMEMORY : E_FAIL;
    // Made aside and renamed into place: a link or a neighbour's file at the name is never
    // written through, and is not replaced either.
    const int error =
        WriteNewFile(*narrowPath, output.Bytes, FileReaders::Everyone, ExistingName::ReplaceOurs);
    return error == 0 ? S_OK : HResultFromErrno(error);
  }
};

}  // namespace

HRESULT CreatePngImagingFactory(IWICImagingFactory** factory) {
  if (factory == nullptr) return E_INVALIDARG;
  *factory = new (std::nothrow) PngImagingFactory();
  return *factory == nullptr ? E_OUTOFMEMORY : S_OK;
}

}  // namespace corvantis
