#include "minidump/exception_stream.h"

#include <cstring>

#include "platform/fault_debug_event.h"

namespace corvantis::minidump {

std::uint32_t LinuxExceptionCode(std::uint32_t windowsCode) {
  const int signal = FaultSignalOf(windowsCode);
  return signal != 0 ? static_cast<std::uint32_t>(signal) : kDumpRequestedCode;
}

void WriteExceptionStream(MinidumpFileWriter& writer, const ExceptionSnapshot& exception) {
  static_assert(sizeof(MINIDUMP_EXCEPTION) == sizeof(EXCEPTION_RECORD64));
  MINIDUMP_EXCEPTION_STREAM stream{};
  stream.ThreadId = exception.ThreadId;
  std::memcpy(&stream.ExceptionRecord, &exception.Record, sizeof(stream.ExceptionRecord));
  stream.ExceptionRecord.ExceptionCode = exception.Signal > 0
                                             ? static_cast<std::uint32_t>(exception.Signal)
                                             : LinuxExceptionCode(exception.Record.ExceptionCode);
  stream.ExceptionRecord.ExceptionFlags = exception.Record.ExceptionCode;
  stream.ThreadContext = writer.WriteBlockObject(exception.Context, 16);
  writer.AddStream(ExceptionStream, writer.WriteBlockObject(stream, 4));
}

}  // namespace corvantis::minidump
