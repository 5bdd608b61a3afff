#pragma once
#include <cstdint>

#include "minidump/minidump_file_writer.h"
#include "minidump/process_snapshot.h"

namespace corvantis::minidump {

// Breakpad's code for a dump whose exception did not come as a signal.
inline constexpr std::uint32_t kDumpRequestedCode = 0xFFFFFFFF;

// The exception code of a Linux dump for a Windows exception code: the signal a fault with that
// code arrives as (FaultSignalOf), else kDumpRequestedCode.
std::uint32_t LinuxExceptionCode(std::uint32_t windowsCode);

// Writes the exception stream: the faulting thread, the record and its context at the exception.
// Readers of Linux dumps take the code for a signal number, so the code is the signal the
// exception came as (LinuxExceptionCode of the Windows code when that is unknown) and the Windows
// code goes into ExceptionFlags; address and parameters are the record's.
void WriteExceptionStream(MinidumpFileWriter& writer, const ExceptionSnapshot& exception);

}  // namespace corvantis::minidump
