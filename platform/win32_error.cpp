#include "platform/win32_error.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/hresult_error.h"
#include "platform/utf.h"

namespace corvantis {

std::uint32_t Win32ErrorFromErrno(int error) {
  switch (error) {
    case EPERM:
    case EACCES: return ERROR_ACCESS_DENIED;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ESRCH: return ERROR_INVALID_PARAMETER;
    case EINTR: return 995;    // ERROR_OPERATION_ABORTED
    case EIO: return 1117;     // ERROR_IO_DEVICE
    case ENXIO: return 1;      // ERROR_INVALID_FUNCTION
    case E2BIG: return 1639;   // ERROR_INVALID_COMMAND_LINE
    case ENOEXEC: return 193;  // ERROR_BAD_EXE_FORMAT
    case EBADF: return 6;      // ERROR_INVALID_HANDLE
    case EAGAIN: return 1237;  // ERROR_RETRY
    case ENOMEM: return 8;     // ERROR_NOT_ENOUGH_MEMORY
    case EFAULT: return 998;   // ERROR_NOACCESS
    case EBUSY: return 170;    // ERROR_BUSY
    case EEXIST: return ERROR_FILE_EXISTS;
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENFILE:
    case EMFILE: return 4;   // ERROR_TOO_MANY_OPEN_FILES
    case EFBIG: return 223;  // ERROR_FILE_TOO_LARGE
    case ENOSPC: return ERROR_DISK_FULL;
    case ESPIPE: return 131;  // ERROR_NEGATIVE_SEEK
    case EROFS: return 19;    // ERROR_WRITE_PROTECT
    case EPIPE: return 109;   // ERROR_BROKEN_PIPE
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSYS: return 1;       // ERROR_INVALID_FUNCTION
    case ENOTEMPTY: return 145;  // ERROR_DIR_NOT_EMPTY
    case ELOOP: return 1921;     // ERROR_CANT_RESOLVE_FILENAME
    case EILSEQ: return ERROR_NO_UNICODE_TRANSLATION;
    case ENOTSUP: return 50;         // ERROR_NOT_SUPPORTED
    case ETIMEDOUT: return 1460;     // ERROR_TIMEOUT
    case ECONNREFUSED: return 1225;  // ERROR_CONNECTION_REFUSED
    case EDQUOT: return 1295;        // ERROR_DISK_QUOTA_EXCEEDED
    default: return 0;
  }
}

HRESULT HResultFromErrno(int error) {
  if (error == 0) return S_OK;
  if (const std::uint32_t win32 = Win32ErrorFromErrno(error)) return HRESULT_FROM_WIN32(win32);
  return MakeHResult(kPosixErrnoHResultBase | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}

void ThrowErrno(int error, const char* what) {
  std::string text = what ? std::string(what) + ": " : std::string();
  text += std::strerror(error);
  throw hresult_error(HResultFromErrno(error), Utf8ToWide(text));
}

}  // namespace corvantis
