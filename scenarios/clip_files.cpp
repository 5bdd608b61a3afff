#include "scenarios/clip_files.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/format_text.h"
#include "platform/hresult_error.h"
#include "platform/unique_fd.h"
#include "platform/utf.h"
#include "platform/win32_error.h"
#include "platform/write_all.h"

namespace corvantis {

namespace {

[[noreturn]] void ThrowPathTooLong(const std::wstring& path) {
  throw hresult_error(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
                      L"The path is too long: " + path);
}

// Replaces the extension of the file name (its last '.' and what follows) or appends one.
std::wstring RenameExtension(const std::wstring& path, const wchar_t* extension) {
  const auto slash = path.find_last_of(L'/');
  const auto dot = path.find_last_of(L'.');
  const bool hasExtension =
      dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  return (hasExtension ? path.substr(0, dot) : path) + extension;
}

}  // namespace

std::wstring BuildClipPath(const std::wstring& directory, const LocalDateTime& now,
                           const ClipScenario& scenario, const wchar_t* extension) {
  const std::wstring name =
      FormatWide(L"%04u%02u%02u-%02u%02u%02u-%ux%u@%.2f", unsigned{now.Year}, unsigned{now.Month},
                 unsigned{now.Day}, unsigned{now.Hour}, unsigned{now.Minute}, unsigned{now.Second},
                 scenario.Width, scenario.Height, scenario.FrameRate());
  std::wstring path = directory;
  if (!path.empty() && path.back() != L'/') path += L'/';
  path = RenameExtension(path + name, extension);
  if (path.size() > kMaxPathChars) ThrowPathTooLong(path);
  return path;
}

std::wstring SnapshotPath(const std::wstring& clipPath) { return clipPath + L".png"; }

void WriteLastFrameSnapshot(BenchmarkSession& session, ID3D11Texture2D* slotTexture,
                            const std::wstring& clipPath) {
  const std::wstring pngPath = SnapshotPath(clipPath);
  if (pngPath.size() > kMaxPathChars) ThrowPathTooLong(pngPath);

  D3D11_TEXTURE2D_DESC source;
  slotTexture->GetDesc(&source);
  D3D11_TEXTURE2D_DESC desc;
  desc.Width = source.Width;
  desc.Height = source.Height;
  desc.MipLevels = 1;
  desc.ArraySize = 1;
  desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
  desc.SampleDesc = {1, 0};
  desc.Usage = D3D11_USAGE_STAGING;
  desc.BindFlags = 0;
  desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
  desc.MiscFlags = 0;
  com_ptr<ID3D11Texture2D> staging;
  check_hresult(session.Device->CreateTexture2D(&desc, nullptr, staging.put()));
  session.DeviceContext->CopyResource(staging.get(), slotTexture);

  D3D11_MAPPED_SUBRESOURCE mapped;
  check_hresult(session.DeviceContext->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped));
  com_ptr<IWICBitmap> bitmap;
  const HRESULT created = session.WicFactory->CreateBitmapFromMemory(
      desc.Width, desc.Height, mapped.RowPitch, mapped.DepthPitch,
      static_cast<const std::uint8_t*>(mapped.pData), bitmap.put());
  session.DeviceContext->Unmap(staging.get(), 0);
  staging.reset();
  check_hresult(created);
  check_hresult(session.WicFactory->WritePng(bitmap.get(), pngPath));
}

void WriteClipStream(const std::wstring& clipPath,
                     const std::vector<std::shared_ptr<std::vector<std::uint8_t>>>& chunks) {
  const std::string path = WideToUtf8Lossy(clipPath);
  unique_fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd) ThrowErrno(errno, path.c_str());
  // From here the file is ours: a stream that could not be written whole does not stay.
  const auto fail = [&](int error) {
    fd.reset();
    ::unlink(path.c_str());
    ThrowErrno(error, path.c_str());
  };

  // The chunks go out as they are, without a copy.
  std::vector<iovec> pieces;
  pieces.reserve(chunks.size());
  for (const auto& chunk : chunks) {
    if (chunk && !chunk->empty()) pieces.push_back(iovec{chunk->data(), chunk->size()});
  }
  if (const int error = WriteAll(fd.get(), pieces)) fail(error);
  if (::close(fd.release()) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    ThrowErrno(error, path.c_str());
  }
}

}  // namespace corvantis
