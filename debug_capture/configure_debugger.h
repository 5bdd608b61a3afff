#pragma once
#include "debug_capture/parent_process_debug.h"

namespace corvantis {

// Writes `text`, a line end and a flush to the program's standard output.
void WriteOutputLine(const wchar_t* text);

// The configuration of the child role: output to WriteOutputLine, DefaultExceptionFilter as the
// filter; DisableDebugOutput stays as the command line set it.
void ConfigureDebugger(ParentProcessDebug& debugger);

}  // namespace corvantis
