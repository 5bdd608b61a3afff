#include <unistd.h>

#include "platform/terminal.h"

bool StdErrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
