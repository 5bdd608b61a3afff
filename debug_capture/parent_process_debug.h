#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "debug_capture/write_minidump.h"
#include "platform/debug_event.h"
#include "platform/ptrace_connection.h"

namespace corvantis {

// The text of /proc/<pid>/maps of the process being described; nothing when unreadable.
using MapsReader = std::function<std::optional<std::string>()>;

// Writes one dump of the held parent; WriteMiniDump in production.
using MiniDumpWriter = std::function<void(const MiniDumpRequest&)>;

// The debugger of the child role: attaches to the parent, relays its debug strings and
// describes its exceptions through `Output`.
class ParentProcessDebug {
 public:
  // What the exception filter judges.
  struct ExceptionData {
    std::wstring ModulePath;          // the throwing module's file; empty when not known
    std::string TypeName;             // decorated name of the thrown C++ type, as stored
    const std::byte* Data = nullptr;  // copy of the thrown object; valid during the filter call
    std::size_t DataSize = 0;
    std::uint32_t Value = 0;  // HRESULT of a recognised C++ object, else the code
  };

  std::int32_t DisableDebugOutput = 0;  // non-zero: debug strings are not relayed
  std::function<void(const wchar_t*)> Output;
  std::function<int(const ExceptionData&)> ExceptionFilter;

  // True when `arguments` (element 0 the program path) make this process the debugger child
  // and the debugger has detached again; `configure` is called before attaching. Raises
  // hresult_error when the parent cannot be attached.
  static bool RunFromCommandLine(const std::vector<std::wstring>& arguments,
                                 const std::function<void(ParentProcessDebug&)>& configure);

  // Attaches to every thread of `parentId`, signals `eventFd` (a pipe's write end, -1 for
  // none) and relays until the parent ends; detaches on every way out. Raises hresult_error
  // when the parent cannot be attached; errors after that end the relay quietly.
  void Run(std::uint32_t parentId, std::int32_t dumpType, int eventFd);
  void Run(PtraceConnection& target, TargetMemory& memory, std::uint32_t parentId,
           std::int32_t dumpType, int eventFd, const MiniDumpWriter& writeDump);

  // Describes one exception of the parent: 1 when a line went to `Output` (a dump is wanted),
  // else 0. `codeText` ("0x%08X" of the code) becomes that of a recognised HRESULT. Reads are
  // bounded; a failed read only removes the details that depend on it.
  int DescribeException(TargetMemory& memory, const MapsReader& readMaps,
                        const EXCEPTION_RECORD64& record, std::wstring& codeText);
};

// 0 for the exceptions the program leaves unreported (thread naming, expected _com_errors of
// D3DSCache.dll and d3d11.dll), else 1.
int DefaultExceptionFilter(const ParentProcessDebug::ExceptionData& data);

}  // namespace corvantis
