#pragma once
#include <string>

namespace corvantis {

// Full path of the running executable, also when the file has been replaced or removed since
// (without the kernel's " (deleted)" mark). Raises hresult_error when it cannot be read.
std::wstring GetExecutablePath();

// Directory of the running executable, without a trailing separator.
std::wstring GetExecutableDirectory();

// Directory part of a path (everything before the last '/'), "" when there is none.
std::wstring RemoveFileSpec(const std::wstring& path);

// The final component of a path.
std::wstring FindFileName(const std::wstring& path);

}  // namespace corvantis
