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
  dependencies.sender = std::make_shared<http::CurlHttpSender>();
  dependencies.os = std::make_shared<LinuxOsInfoSource>();
  dependencies.database = std::string(kDefaultDatabasePath);
  try {
    dependencies.crashHandler =
        std::filesystem::path(WideToUtf8Lossy(GetExecutableDirectory())) / kCrashHandlerName;
  } catch (...) {
    // Without our own path the handler cannot be found: crashes go uncaught.
  }
  return dependencies;
}

}  // namespace corvantis::sentry
