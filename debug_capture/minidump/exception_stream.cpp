#include "debug_capture/minidump/exception_stream.h"

#include <cstring>

namespace corvantis::minidump {

void WriteExceptionStream(MinidumpFileWriter& writer, const ExceptionSnapshot& exception) {
  static_assert(sizeof(MINIDUMP_EXCEPTION) == sizeof(EXCEPTION_RECORD64));
  MINIDUMP_EXCEPTION_STREAM stream{};
  stream.ThreadId = exception.ThreadId;
  std::memcpy(&stream.ExceptionRecord, &exception.Record, sizeof(stream.ExceptionRecord));
  stream.ThreadContext = writer.WriteBlockObject(exception.Context, 16);
  writer.AddStream(ExceptionStream, writer.WriteBlockObject(stream, 4));
}

}  // namespace corvantis::minidump
