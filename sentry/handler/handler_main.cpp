// The crash handler process: started by the event client with a channel to the process it
// watches; reports that process's crash, then ends. Ends quietly when the channel closes.
#include "sentry/handler/crash_handler_process.h"
#include "sentry/handler/process_minidump_source.h"

using namespace corvantis;

int main(int argc, char** argv) {
  corvantis::sentry::ProcessMinidumpSource minidumps;
  return corvantis::sentry::RunCrashHandler(argc, argv, minidumps);
}
