#include <unistd.h>

#include "platform/terminal.h"

namespace corvantis {

bool StdErrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace corvantis
