#include "minidump/linux_streams.h"

namespace corvantis::minidump {

void WriteRawStreams(MinidumpFileWriter& writer, std::span<const RawStream> streams) {
  for (const RawStream& stream : streams)
    writer.AddStream(stream.Type, writer.WriteBlock(std::as_bytes(std::span(stream.Bytes)), 4));
}

}  // namespace corvantis::minidump
