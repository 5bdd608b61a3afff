#pragma once
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Boot time in seconds since 1970 (the "btime" of /proc/stat); 0 when unknown.
std::uint64_t BootTime();

// Clock ticks per second of /proc's time fields.
long ClockTicksPerSecond();

// The open file descriptors of process `pid` and what each refers to, in ascending order.
std::vector<HandleSnapshot> ReadOpenDescriptors(pid_t pid);

}  // namespace corvantis::minidump
