#pragma once
#include <cstdint>

namespace corvantis {

// 32-bit status codes with the Windows numbering, so that codes shown to users and written into
// dumps are the ones a Windows tool would show.
using HRESULT = std::int32_t;

constexpr HRESULT MakeHResult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHResult(0x80004003);
inline constexpr HRESULT E_FAIL = MakeHResult(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057);
inline constexpr HRESULT DXGI_ERROR_NOT_FOUND = MakeHResult(0x887A0002);
inline constexpr HRESULT DXGI_ERROR_UNSUPPORTED = MakeHResult(0x887A0004);

constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

// Win32 error code to HRESULT of the Win32 facility (0x8007xxxx); 0 and negative values pass.
constexpr HRESULT HRESULT_FROM_WIN32(std::uint32_t error) {
  return static_cast<HRESULT>(error) <= 0 ? static_cast<HRESULT>(error)
                                          : MakeHResult((error & 0x0000FFFFu) | 0x80070000u);
}

}  // namespace corvantis
