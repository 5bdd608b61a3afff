#pragma once

namespace corvantis {

// True when the process's standard error is a terminal (not a file, pipe or /dev/null).
bool StdErrIsTerminal();

}  // namespace corvantis
