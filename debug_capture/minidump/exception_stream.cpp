#include "debug_capture/minidump/exception_stream.h"

#include <csignal>
#include <cstring>

namespace corvantis::minidump {

std::uint32_t LinuxExceptionCode(std::uint32_t windowsCode) {
  switch (windowsCode) {
    case 0xC0000005:  // access violation
      return SIGSEGV;
    case 0xC000008C:  // array bounds exceeded
    case 0xC000008E:  // float divide by zero
    case 0xC000008F:  // float inexact result
    case 0xC0000090:  // float invalid operation
    case 0xC0000091:  // float overflow
    case 0xC0000093:  // float underflow
    case 0xC0000094:  // integer divide by zero
    case 0xC0000095:  // integer overflow
      return SIGFPE;
    case 0xC000001D:  // illegal instruction
    case 0xC0000096:  // privileged instruction
      return SIGILL;
    case 0x80000003:  // breakpoint
    case 0x80000004:  // single step
      return SIGTRAP;
    case 0xC0000409:  // fail fast
      return SIGABRT;
    default:
      return kDumpRequestedCode;
  }
}

void WriteExceptionStream(MinidumpFileWriter& writer, const ExceptionSnapshot& exception) {
  static_assert(sizeof(MINIDUMP_EXCEPTION) == sizeof(EXCEPTION_RECORD64));
  MINIDUMP_EXCEPTION_STREAM stream{};
  stream.ThreadId = exception.ThreadId;
  std::memcpy(&stream.ExceptionRecord, &exception.Record, sizeof(stream.ExceptionRecord));
  stream.ExceptionRecord.ExceptionCode = exception.Signal > 0 ? static_cast<std::uint32_t>(exception.Signal)
                                                              : LinuxExceptionCode(exception.Record.ExceptionCode);
  stream.ExceptionRecord.ExceptionFlags = exception.Record.ExceptionCode;
  stream.ThreadContext = writer.WriteBlockObject(exception.Context, 16);
  writer.AddStream(ExceptionStream, writer.WriteBlockObject(stream, 4));
}

}  // namespace corvantis::minidump
