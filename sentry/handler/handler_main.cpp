// The crash handler process: started by the event client with a channel to the process it
// watches; reports that process's crash, then ends. Ends quietly when the channel closes.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>

#include "platform/http/curl_http_sender.h"
#include "sentry/database.h"
#include "sentry/handler/crash_reporter.h"
#include "sentry/handler/crash_server.h"
#include "sentry/handler/process_minidump_source.h"

using namespace corvantis::sentry;

int main(int argc, char** argv) {
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      options[argument.substr(2, equals - 2)] = argument.substr(equals + 1);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  const std::optional<Dsn> dsn = ParseDsn(options["dsn"]);
  if (!dsn || options["fd"].empty() || options["database"].empty()) return 2;
  try {
    const int fd = std::stoi(options["fd"]);
    const pid_t client = getppid();
    CrashReporterSettings settings{*dsn, options["event"], {}};
    if (!options["connect-timeout-ms"].empty()) {
      settings.limits.connectTimeoutMs = std::stol(options["connect-timeout-ms"]);
    }
    if (!options["total-timeout-ms"].empty()) {
      settings.limits.totalTimeoutMs = std::stol(options["total-timeout-ms"]);
    }
    const Database database(options["database"]);
    corvantis::http::CurlHttpSender sender;
    ProcessMinidumpSource minidumps;
    CrashReporter reporter(settings, database, sender, minidumps);
    ServeCrashChannel(fd, client, reporter);
    std::error_code ignored;
    std::filesystem::remove(settings.eventFile, ignored);
  } catch (...) {
    return 1;
  }
  return 0;
}
