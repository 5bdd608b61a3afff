#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/debug_event.h"
#include "platform/debug_output.h"
#include "platform/utf.h"

namespace {

// The tracer's pid from /proc/self/status, read without allocating so that it is safe anywhere.
bool TracerAttached() {
  const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer - 1);
  close(fd);
  if (n <= 0) return false;
  buffer[n] = '\0';
  const char* line = std::strstr(buffer, "TracerPid:");
  if (line == nullptr) return false;
  line += 10;
  while (*line == ' ' || *line == '\t') ++line;
  return *line >= '1' && *line <= '9';
}

void IgnoreDebugEventSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(DebugEventSignal(), &action, nullptr);
  });
}

}  // namespace

bool IsDebuggerPresent() { return TracerAttached(); }

void RaiseDebugEvent(const DebugEventData& event) {
  // A tracer that detaches between the check and the signal must not end the process.
  IgnoreDebugEventSignal();
  siginfo_t info;
  std::memset(&info, 0, sizeof info);
  info.si_signo = DebugEventSignal();
  info.si_code = SI_QUEUE;
  info.si_pid = getpid();
  info.si_uid = getuid();
  info.si_value.sival_ptr = const_cast<DebugEventData*>(&event);
  syscall(SYS_rt_tgsigqueueinfo, getpid(), static_cast<pid_t>(syscall(SYS_gettid)),
          DebugEventSignal(), &info);
}

void OutputDebugStringW(const wchar_t* text) {
  if (text == nullptr || !TracerAttached()) return;
  // The debugger reads UTF-16, as from a Windows process.
  std::u16string utf16;
  for (const wchar_t* p = text; *p != 0; ++p) {
    auto c = static_cast<char32_t>(*p);
    if (c >= 0x10000 && c <= 0x10FFFF) {
      c -= 0x10000;
      utf16.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      utf16.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      utf16.push_back(c < 0x10000 ? static_cast<char16_t>(c) : u'\uFFFD');
    }
  }
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = DBG_PRINTEXCEPTION_WIDE_C;
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = utf16.size() + 1;
  record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(utf16.c_str());
  RaiseDebugEvent(record);
}

void OutputDebugStringA(const char* text) {
  if (text == nullptr || !TracerAttached()) return;
  EXCEPTION_RECORD64 record{};
  record.ExceptionCode = DBG_PRINTEXCEPTION_C;
  record.NumberParameters = 2;
  record.ExceptionInformation[0] = std::strlen(text) + 1;
  record.ExceptionInformation[1] = reinterpret_cast<std::uintptr_t>(text);
  RaiseDebugEvent(record);
}
