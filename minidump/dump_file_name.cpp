#include "minidump/dump_file_name.h"

namespace corvantis::minidump {

namespace {

constexpr std::wstring_view kExtension = L".dmp";

std::wstring Joined(const std::vector<std::wstring>& parts) {
  std::wstring text;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += L'-';
    text += parts[i];
  }
  return text;
}

}  // namespace

std::vector<std::wstring> DebugExceptionDumpParts(const std::wstring& executableName, pid_t pid,
                                                  std::uint32_t counter,
                                                  const std::wstring& codeText) {
  // The counter is printed as a signed 32-bit number, as "%d" prints it.
  return {executableName, std::to_wstring(pid), L"DebugException",
          std::to_wstring(static_cast<std::int32_t>(counter)), codeText};
}

std::wstring DumpFileName(const std::vector<std::wstring>& parts) {
  return Joined(parts) + std::wstring(kExtension);
}

bool IsDebugExceptionDumpOf(const std::wstring& fileName, const std::wstring& executableName,
                            pid_t pid) {
  std::vector<std::wstring> parts = DebugExceptionDumpParts(executableName, pid, 0, L"");
  parts.resize(3);  // the counter and the code vary
  return fileName.starts_with(Joined(parts) + L'-') && fileName.ends_with(kExtension);
}

}  // namespace corvantis::minidump
