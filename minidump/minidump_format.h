#pragma once
// On-disk layout of the Windows minidump format, as Breakpad and Crashpad write it for Linux
// processes on x86-64. All fields little-endian; structures packed to 4 bytes as dbghelp's are.
#include <cstddef>
#include <cstdint>
#include "platform/debug_event.h"

namespace corvantis::minidump {

using RVA = std::uint32_t;

inline constexpr std::uint32_t MINIDUMP_SIGNATURE = 0x504D444D;  // "MDMP"
inline constexpr std::uint32_t MINIDUMP_VERSION = 0xA793;

// MINIDUMP_TYPE bits that this writer reads.
inline constexpr std::uint32_t MiniDumpNormal = 0x0;
inline constexpr std::uint32_t MiniDumpWithDataSegs = 0x1;
inline constexpr std::uint32_t MiniDumpWithFullMemory = 0x2;
inline constexpr std::uint32_t MiniDumpWithHandleData = 0x4;
inline constexpr std::uint32_t MiniDumpWithUnloadedModules = 0x20;
inline constexpr std::uint32_t MiniDumpWithProcessThreadData = 0x100;
inline constexpr std::uint32_t MiniDumpWithFullMemoryInfo = 0x800;
inline constexpr std::uint32_t MiniDumpWithThreadInfo = 0x1000;

enum StreamType : std::uint32_t {
  UnusedStream = 0,
  ThreadListStream = 3,
  ModuleListStream = 4,
  MemoryListStream = 5,
  ExceptionStream = 6,
  SystemInfoStream = 7,
  Memory64ListStream = 9,
  HandleDataStream = 12,
  MiscInfoStream = 15,
  MemoryInfoListStream = 16,
  ThreadInfoListStream = 17,
  // Breakpad's streams for Linux processes: the raw bytes of the named files.
  LinuxCpuInfoStream = 0x47670003,     // /proc/cpuinfo
  LinuxProcStatusStream = 0x47670004,  // /proc/PID/status
  LinuxLsbReleaseStream = 0x47670005,  // /etc/lsb-release
  LinuxCmdLineStream = 0x47670006,     // /proc/PID/cmdline
  LinuxEnvironStream = 0x47670007,     // /proc/PID/environ
  LinuxAuxvStream = 0x47670008,        // /proc/PID/auxv
  LinuxMapsStream = 0x47670009,        // /proc/PID/maps
};

#pragma pack(push, 4)

struct MINIDUMP_LOCATION_DESCRIPTOR {
  std::uint32_t DataSize;
  RVA Rva;
};
static_assert(sizeof(MINIDUMP_LOCATION_DESCRIPTOR) == 8);

struct MINIDUMP_HEADER {
  std::uint32_t Signature;
  std::uint32_t Version;
  std::uint32_t NumberOfStreams;
  RVA StreamDirectoryRva;
  std::uint32_t CheckSum;
  std::uint32_t TimeDateStamp;
  std::uint64_t Flags;
};
static_assert(sizeof(MINIDUMP_HEADER) == 32);

struct MINIDUMP_DIRECTORY {
  std::uint32_t StreamType;
  MINIDUMP_LOCATION_DESCRIPTOR Location;
};
static_assert(sizeof(MINIDUMP_DIRECTORY) == 12);

struct MINIDUMP_MEMORY_DESCRIPTOR {
  std::uint64_t StartOfMemoryRange;
  MINIDUMP_LOCATION_DESCRIPTOR Memory;
};
static_assert(sizeof(MINIDUMP_MEMORY_DESCRIPTOR) == 16);

struct MINIDUMP_MEMORY_DESCRIPTOR64 {
  std::uint64_t StartOfMemoryRange;
  std::uint64_t DataSize;
};
static_assert(sizeof(MINIDUMP_MEMORY_DESCRIPTOR64) == 16);

inline constexpr std::uint16_t PROCESSOR_ARCHITECTURE_AMD64 = 9;
inline constexpr std::uint32_t PLATFORM_ID_LINUX = 0x8201;  // Breakpad's value for Linux
inline constexpr std::uint8_t VER_NT_WORKSTATION = 1;

struct CPU_INFORMATION_X86 {
  std::uint32_t VendorId[3];
  std::uint32_t VersionInformation;      // CPUID 1: EAX
  std::uint32_t FeatureInformation;      // CPUID 1: EDX
  std::uint32_t AMDExtendedCpuFeatures;  // CPUID 0x80000001: EBX, AMD only
};
static_assert(sizeof(CPU_INFORMATION_X86) == 24);

struct MINIDUMP_SYSTEM_INFO {
  std::uint16_t ProcessorArchitecture;
  std::uint16_t ProcessorLevel;
  std::uint16_t ProcessorRevision;
  std::uint8_t NumberOfProcessors;
  std::uint8_t ProductType;
  std::uint32_t MajorVersion;
  std::uint32_t MinorVersion;
  std::uint32_t BuildNumber;
  std::uint32_t PlatformId;
  RVA CSDVersionRva;
  std::uint16_t SuiteMask;
  std::uint16_t Reserved2;
  CPU_INFORMATION_X86 Cpu;
};
static_assert(sizeof(MINIDUMP_SYSTEM_INFO) == 56);
static_assert(offsetof(MINIDUMP_SYSTEM_INFO, PlatformId) == 20);
static_assert(offsetof(MINIDUMP_SYSTEM_INFO, Cpu) == 32);

struct M128A {
  std::uint64_t Low;
  std::int64_t High;
};
static_assert(sizeof(M128A) == 16);

// The FXSAVE image, byte for byte the layout of user_fpregs_struct and _libc_fpstate.
struct XMM_SAVE_AREA32 {
  std::uint16_t ControlWord;
  std::uint16_t StatusWord;
  std::uint8_t TagWord;
  std::uint8_t Reserved1;
  std::uint16_t ErrorOpcode;
  std::uint32_t ErrorOffset;
  std::uint16_t ErrorSelector;
  std::uint16_t Reserved2;
  std::uint32_t DataOffset;
  std::uint16_t DataSelector;
  std::uint16_t Reserved3;
  std::uint32_t MxCsr;
  std::uint32_t MxCsr_Mask;
  M128A FloatRegisters[8];
  M128A XmmRegisters[16];
  std::uint8_t Reserved4[96];
};
static_assert(sizeof(XMM_SAVE_AREA32) == 512);
static_assert(offsetof(XMM_SAVE_AREA32, MxCsr) == 24);
static_assert(offsetof(XMM_SAVE_AREA32, FloatRegisters) == 32);
static_assert(offsetof(XMM_SAVE_AREA32, XmmRegisters) == 160);

inline constexpr std::uint32_t CONTEXT_AMD64 = 0x00100000;
inline constexpr std::uint32_t CONTEXT_CONTROL = CONTEXT_AMD64 | 0x1;
inline constexpr std::uint32_t CONTEXT_INTEGER = CONTEXT_AMD64 | 0x2;
inline constexpr std::uint32_t CONTEXT_SEGMENTS = CONTEXT_AMD64 | 0x4;
inline constexpr std::uint32_t CONTEXT_FLOATING_POINT = CONTEXT_AMD64 | 0x8;
inline constexpr std::uint32_t CONTEXT_DEBUG_REGISTERS = CONTEXT_AMD64 | 0x10;
inline constexpr std::uint32_t CONTEXT_ALL = 0x0010001F;

#pragma pack(push, 16)
struct CONTEXT {
  std::uint64_t P1Home, P2Home, P3Home, P4Home, P5Home, P6Home;
  std::uint32_t ContextFlags;
  std::uint32_t MxCsr;
  std::uint16_t SegCs, SegDs, SegEs, SegFs, SegGs, SegSs;
  std::uint32_t EFlags;
  std::uint64_t Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  std::uint64_t Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
  std::uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
  std::uint64_t Rip;
  XMM_SAVE_AREA32 FltSave;
  M128A VectorRegister[26];
  std::uint64_t VectorControl;
  std::uint64_t DebugControl;
  std::uint64_t LastBranchToRip;
  std::uint64_t LastBranchFromRip;
  std::uint64_t LastExceptionToRip;
  std::uint64_t LastExceptionFromRip;
};
#pragma pack(pop)
static_assert(sizeof(CONTEXT) == 1232);
static_assert(offsetof(CONTEXT, ContextFlags) == 0x30);
static_assert(offsetof(CONTEXT, SegCs) == 0x38);
static_assert(offsetof(CONTEXT, EFlags) == 0x44);
static_assert(offsetof(CONTEXT, Dr0) == 0x48);
static_assert(offsetof(CONTEXT, Rax) == 0x78);
static_assert(offsetof(CONTEXT, Rsp) == 0x98);
static_assert(offsetof(CONTEXT, Rip) == 0xF8);
static_assert(offsetof(CONTEXT, FltSave) == 0x100);
static_assert(offsetof(CONTEXT, VectorRegister) == 0x300);
static_assert(offsetof(CONTEXT, VectorControl) == 0x4A0);

struct MINIDUMP_THREAD {
  std::uint32_t ThreadId;
  std::uint32_t SuspendCount;
  std::uint32_t PriorityClass;
  std::uint32_t Priority;
  std::uint64_t Teb;
  MINIDUMP_MEMORY_DESCRIPTOR Stack;
  MINIDUMP_LOCATION_DESCRIPTOR ThreadContext;
};
static_assert(sizeof(MINIDUMP_THREAD) == 48);

struct MINIDUMP_THREAD_LIST {
  std::uint32_t NumberOfThreads;
  // MINIDUMP_THREAD Threads[NumberOfThreads] follow.
};

struct VS_FIXEDFILEINFO {
  std::uint32_t dwSignature;
  std::uint32_t dwStrucVersion;
  std::uint32_t dwFileVersionMS;
  std::uint32_t dwFileVersionLS;
  std::uint32_t dwProductVersionMS;
  std::uint32_t dwProductVersionLS;
  std::uint32_t dwFileFlagsMask;
  std::uint32_t dwFileFlags;
  std::uint32_t dwFileOS;
  std::uint32_t dwFileType;
  std::uint32_t dwFileSubtype;
  std::uint32_t dwFileDateMS;
  std::uint32_t dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);

struct MINIDUMP_MODULE {
  std::uint64_t BaseOfImage;
  std::uint32_t SizeOfImage;
  std::uint32_t CheckSum;
  std::uint32_t TimeDateStamp;
  RVA ModuleNameRva;
  VS_FIXEDFILEINFO VersionInfo;
  MINIDUMP_LOCATION_DESCRIPTOR CvRecord;
  MINIDUMP_LOCATION_DESCRIPTOR MiscRecord;
  std::uint64_t Reserved0;
  std::uint64_t Reserved1;
};
static_assert(sizeof(MINIDUMP_MODULE) == 108);
static_assert(offsetof(MINIDUMP_MODULE, ModuleNameRva) == 20);
static_assert(offsetof(MINIDUMP_MODULE, CvRecord) == 76);

struct MINIDUMP_MODULE_LIST {
  std::uint32_t NumberOfModules;
  // MINIDUMP_MODULE Modules[NumberOfModules] follow.
};

// CodeView record of an ELF module: the signature followed by the GNU build id's bytes.
inline constexpr std::uint32_t CV_SIGNATURE_ELF = 0x4270454C;  // "LEpB" on disk, 'BpEL'
struct CV_INFO_ELF_HEADER {
  std::uint32_t CvSignature;
  // std::uint8_t BuildId[] follows.
};

// The same 152-byte layout as the record a debug event carries.
using MINIDUMP_EXCEPTION = EXCEPTION_RECORD64;
static_assert(sizeof(MINIDUMP_EXCEPTION) == 152);

struct MINIDUMP_EXCEPTION_STREAM {
  std::uint32_t ThreadId;
  std::uint32_t Alignment;
  MINIDUMP_EXCEPTION ExceptionRecord;
  MINIDUMP_LOCATION_DESCRIPTOR ThreadContext;
};
static_assert(sizeof(MINIDUMP_EXCEPTION_STREAM) == 168);
static_assert(offsetof(MINIDUMP_EXCEPTION_STREAM, ThreadContext) == 160);

struct MINIDUMP_MEMORY_LIST {
  std::uint32_t NumberOfMemoryRanges;
  // MINIDUMP_MEMORY_DESCRIPTOR MemoryRanges[] follow.
};

struct MINIDUMP_MEMORY64_LIST {
  std::uint64_t NumberOfMemoryRanges;
  std::uint64_t BaseRva;  // the ranges' bytes lie back to back from here
  // MINIDUMP_MEMORY_DESCRIPTOR64 MemoryRanges[] follow.
};
static_assert(sizeof(MINIDUMP_MEMORY64_LIST) == 16);

inline constexpr std::uint32_t MEM_COMMIT = 0x1000;
inline constexpr std::uint32_t MEM_PRIVATE = 0x20000;
inline constexpr std::uint32_t MEM_MAPPED = 0x40000;
inline constexpr std::uint32_t MEM_IMAGE = 0x1000000;
inline constexpr std::uint32_t PAGE_NOACCESS = 0x01;
inline constexpr std::uint32_t PAGE_READONLY = 0x02;
inline constexpr std::uint32_t PAGE_READWRITE = 0x04;
inline constexpr std::uint32_t PAGE_WRITECOPY = 0x08;
inline constexpr std::uint32_t PAGE_EXECUTE = 0x10;
inline constexpr std::uint32_t PAGE_EXECUTE_READ = 0x20;
inline constexpr std::uint32_t PAGE_EXECUTE_READWRITE = 0x40;
inline constexpr std::uint32_t PAGE_EXECUTE_WRITECOPY = 0x80;

struct MINIDUMP_MEMORY_INFO_LIST {
  std::uint32_t SizeOfHeader;
  std::uint32_t SizeOfEntry;
  std::uint64_t NumberOfEntries;
};
static_assert(sizeof(MINIDUMP_MEMORY_INFO_LIST) == 16);

struct MINIDUMP_MEMORY_INFO {
  std::uint64_t BaseAddress;
  std::uint64_t AllocationBase;
  std::uint32_t AllocationProtect;
  std::uint32_t Alignment1;
  std::uint64_t RegionSize;
  std::uint32_t State;
  std::uint32_t Protect;
  std::uint32_t Type;
  std::uint32_t Alignment2;
};
static_assert(sizeof(MINIDUMP_MEMORY_INFO) == 48);

struct MINIDUMP_THREAD_INFO_LIST {
  std::uint32_t SizeOfHeader;
  std::uint32_t SizeOfEntry;
  std::uint32_t NumberOfEntries;
};
static_assert(sizeof(MINIDUMP_THREAD_INFO_LIST) == 12);

struct MINIDUMP_THREAD_INFO {
  std::uint32_t ThreadId;
  std::uint32_t DumpFlags;
  std::uint32_t DumpError;
  std::uint32_t ExitStatus;
  std::uint64_t CreateTime;  // FILETIME units: 100 ns since 1601-01-01
  std::uint64_t ExitTime;
  std::uint64_t KernelTime;  // 100 ns units
  std::uint64_t UserTime;
  std::uint64_t StartAddress;
  std::uint64_t Affinity;
};
static_assert(sizeof(MINIDUMP_THREAD_INFO) == 64);

struct MINIDUMP_HANDLE_DATA_STREAM {
  std::uint32_t SizeOfHeader;
  std::uint32_t SizeOfDescriptor;
  std::uint32_t NumberOfDescriptors;
  std::uint32_t Reserved;
};
static_assert(sizeof(MINIDUMP_HANDLE_DATA_STREAM) == 16);

struct MINIDUMP_HANDLE_DESCRIPTOR {
  std::uint64_t Handle;
  RVA TypeNameRva;
  RVA ObjectNameRva;
  std::uint32_t Attributes;
  std::uint32_t GrantedAccess;
  std::uint32_t HandleCount;
  std::uint32_t PointerCount;
};
static_assert(sizeof(MINIDUMP_HANDLE_DESCRIPTOR) == 32);

#pragma pack(pop)

}  // namespace corvantis::minidump
