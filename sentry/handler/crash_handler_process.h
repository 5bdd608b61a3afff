#pragma once

#include "sentry/handler/minidump_source.h"

namespace corvantis::sentry {

// The handler process's whole run. Its command line names the channel and the database folder
// as inherited descriptors (--fd, --database-fd), the event file in that folder (--event) and
// the time limits; the channel's first message is the DSN. Serves one crash of the parent process
// with `minidumps` and returns the exit status; when the capture runs out of time the process ends
// at once (status 3), which lets the crashed process go.
int RunCrashHandler(int argc, char** argv, MinidumpSource& minidumps);

}  // namespace corvantis::sentry
