#pragma once
#include <cstdint>

#include "platform/hresult.h"

namespace corvantis {

inline constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
inline constexpr std::uint32_t ERROR_PATH_NOT_FOUND = 3;
inline constexpr std::uint32_t ERROR_ACCESS_DENIED = 5;
inline constexpr std::uint32_t ERROR_FILE_EXISTS = 80;
inline constexpr std::uint32_t ERROR_INVALID_PARAMETER = 87;
inline constexpr std::uint32_t ERROR_DISK_FULL = 112;
inline constexpr std::uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
inline constexpr std::uint32_t ERROR_NO_UNICODE_TRANSLATION = 1113;

// Facility for errno values without a Win32 counterpart: 0xA0FF0000 | errno (customer bit set).
inline constexpr std::uint32_t kPosixErrnoHResultBase = 0xA0FF0000u;

// The Win32 error that corresponds to errno, or 0 when there is none.
std::uint32_t Win32ErrorFromErrno(int error);

// HRESULT for a failed POSIX call: 0x8007xxxx with the Win32 counterpart, else the errno facility.
HRESULT HResultFromErrno(int error);

// Raises hresult_error for errno `error` with the system's text, prefixed by `what` when given.
[[noreturn]] void ThrowErrno(int error, const char* what = nullptr);

}  // namespace corvantis
