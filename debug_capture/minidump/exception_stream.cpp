#include "debug_capture/minidump/exception_stream.h"

#include <csignal>
#include <cstring>

namespace corvantis::minidump {

std::uint32_t LinuxExceptionCode(std::uint32_t windowsCode) {
  switch (windowsCode) {
    case 0xC0000005: return SIGSEGV;  // access violation
    case 0xC0000094: return SIGFPE;   // integer divide by zero
    case 0xC000001D: return SIGILL;   // illegal instruction
    case 0x80000003: return SIGTRAP;  // breakpoint
    case 0xC0000409: return SIGABRT;  // fail fast
    default: return kDumpRequestedCode;
  }
}

void WriteExceptionStream(MinidumpFileWriter& writer, const ExceptionSnapshot& exception) {
  static_assert(sizeof(MINIDUMP_EXCEPTION) == sizeof(EXCEPTION_RECORD64));
  MINIDUMP_EXCEPTION_STREAM stream{};
  stream.ThreadId = exception.ThreadId;
  std::memcpy(&stream.ExceptionRecord, &exception.Record, sizeof(stream.ExceptionRecord));
  stream.ExceptionRecord.ExceptionCode = LinuxExceptionCode(exception.Record.ExceptionCode);
  stream.ExceptionRecord.ExceptionFlags = exception.Record.ExceptionCode;
  stream.ThreadContext = writer.WriteBlockObject(exception.Context, 16);
  writer.AddStream(ExceptionStream, writer.WriteBlockObject(stream, 4));
}

}  // namespace corvantis::minidump
