#pragma once
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// This machine as a dump describes it: CPUID identification, processor count, kernel version.
// The dumped process runs on the same machine as the writer.
SystemSnapshot ReadSystemSnapshot();

}  // namespace corvantis::minidump
