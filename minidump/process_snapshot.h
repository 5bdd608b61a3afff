#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "minidump/minidump_format.h"
#include "platform/debug_event.h"

namespace corvantis::minidump {

// What a dump says about the machine.
struct SystemSnapshot {
  std::uint16_t ProcessorLevel = 0;     // CPU family
  std::uint16_t ProcessorRevision = 0;  // model << 8 | stepping
  std::uint8_t NumberOfProcessors = 0;
  std::uint32_t CpuVendor[3] = {};  // CPUID 0: EBX, EDX, ECX
  std::uint32_t CpuVersion = 0;     // CPUID 1: EAX
  std::uint32_t CpuFeatures = 0;    // CPUID 1: EDX
  std::uint32_t AmdExtendedFeatures = 0;
  std::uint32_t MajorVersion = 0;  // kernel release, e.g. 6.1.0
  std::uint32_t MinorVersion = 0;
  std::uint32_t BuildNumber = 0;
  std::string OsVersion;  // "<release> <version> <machine>" as uname gives them
};

struct ThreadSnapshot {
  std::uint32_t ThreadId = 0;
  CONTEXT Context{};
  // The stack bytes to capture: from a little below the stack pointer to the top of its mapping.
  std::uint64_t StackStart = 0;
  std::uint64_t StackSize = 0;
  // Times in 100 ns units; CreateTime counts from 1601-01-01 as FILETIME does. 0 when unknown.
  std::uint64_t CreateTime = 0;
  std::uint64_t UserTime = 0;
  std::uint64_t KernelTime = 0;
};

// One line of /proc/PID/maps.
struct MemoryMapping {
  std::uint64_t Start = 0;
  std::uint64_t End = 0;
  bool Readable = false;
  bool Writable = false;
  bool Executable = false;
  bool Shared = false;
  std::uint64_t Offset = 0;
  std::uint64_t Inode = 0;
  std::string Path;  // empty for anonymous memory; "[stack]", "[heap]", "[vdso]" and the like
};

// A mapped ELF file: from its first mapping (the ELF header) to the end of its last one.
struct ModuleSnapshot {
  std::string Path;
  std::uint64_t Base = 0;
  std::uint64_t Size = 0;
  std::vector<std::uint8_t> BuildId;  // GNU build id; empty when the file has none
};

struct ExceptionSnapshot {
  std::uint32_t ThreadId = 0;
  EXCEPTION_RECORD64 Record{};
  CONTEXT Context{};        // the thread's registers at the exception
  std::int32_t Signal = 0;  // the signal the exception came as; 0 when unknown or none
};

// The bytes of a file that go into the dump as they are (Breakpad's Linux streams).
struct RawStream {
  std::uint32_t Type = 0;
  std::string Bytes;
};

// An open file descriptor of the process, dumped in place of a handle.
struct HandleSnapshot {
  std::uint32_t Descriptor = 0;
  std::string Target;  // what /proc/PID/fd/N links to
};

// Everything a minidump holds, gathered from a stopped process (or built by hand in tests).
// Memory contents are not here: the writer reads them from a TargetMemory as it writes.
struct ProcessSnapshot {
  std::uint32_t ProcessId = 0;
  std::uint32_t TimeDateStamp = 0;  // seconds since 1970
  SystemSnapshot System;
  std::vector<ThreadSnapshot> Threads;
  std::vector<ModuleSnapshot> Modules;
  std::vector<MemoryMapping> Mappings;
  std::vector<RawStream> RawStreams;
  std::vector<HandleSnapshot> Handles;
  std::optional<ExceptionSnapshot> Exception;
};

}  // namespace corvantis::minidump
