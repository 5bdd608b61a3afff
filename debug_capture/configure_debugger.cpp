#include "debug_capture/configure_debugger.h"

#include "platform/console.h"

namespace corvantis {

void WriteOutputLine(const wchar_t* text) { StdOut().WriteLine(text); }

void ConfigureDebugger(ParentProcessDebug& debugger) {
  debugger.Output = WriteOutputLine;
  debugger.ExceptionFilter = DefaultExceptionFilter;
}

}  // namespace corvantis
