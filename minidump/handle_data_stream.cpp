#include "minidump/handle_data_stream.h"

#include <vector>

namespace corvantis::minidump {

void WriteHandleDataStream(MinidumpFileWriter& writer, const ProcessSnapshot& snapshot) {
  const RVA typeName = writer.WriteString("File");
  std::vector<MINIDUMP_HANDLE_DESCRIPTOR> descriptors;
  for (const HandleSnapshot& handle : snapshot.Handles) {
    MINIDUMP_HANDLE_DESCRIPTOR descriptor{};
    descriptor.Handle = handle.Descriptor;
    descriptor.TypeNameRva = typeName;
    descriptor.ObjectNameRva = writer.WriteString(handle.Target);
    descriptor.HandleCount = 1;
    descriptors.push_back(descriptor);
  }
  const MINIDUMP_HANDLE_DATA_STREAM header{sizeof(MINIDUMP_HANDLE_DATA_STREAM),
                                           sizeof(MINIDUMP_HANDLE_DESCRIPTOR),
                                           static_cast<std::uint32_t>(descriptors.size()), 0};
  writer.WriteListStream(HandleDataStream, header, descriptors);
}

}  // namespace corvantis::minidump
