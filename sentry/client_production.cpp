#include "platform/http/curl_http_sender.h"
#include "platform/module_path.h"
#include "platform/utf.h"
#include "sentry/client.h"
#include "sentry/os_info_linux.h"

namespace corvantis::sentry {

// The handler executable's name in the program's folder.
inline constexpr char kCrashHandlerName[] = "corvantis_crash_handler";

ClientDependencies ProductionDependencies() {
  ClientDependencies dependencies;
  dependencies.Sender = std::make_shared<http::CurlHttpSender>();
  dependencies.Os = std::make_shared<LinuxOsInfoSource>();
  dependencies.Database = std::string(kDefaultDatabasePath);
  try {
    dependencies.CrashHandler =
        std::filesystem::path(WideToUtf8Lossy(GetExecutableDirectory())) / kCrashHandlerName;
  } catch (...) {
    // Without our own path the handler cannot be found: crashes go uncaught.
  }
  return dependencies;
}

}  // namespace corvantis::sentry
