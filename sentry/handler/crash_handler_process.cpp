#include "sentry/handler/crash_handler_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>
#include <string>

#include "platform/http/curl_http_sender.h"
#include "platform/unique_fd.h"
#include "sentry/database.h"
#include "sentry/handler/crash_reporter.h"
#include "sentry/handler/crash_server.h"

namespace corvantis::sentry {
namespace {

// The client sends it right after starting us.
constexpr int kDsnWaitMs = 10000;

std::optional<Dsn> ReceiveDsn(int fd) {
  pollfd ready{fd, POLLIN, 0};
  int polled;
  do {
    polled = poll(&ready, 1, kDsnWaitMs);
  } while (polled < 0 && errno == EINTR);
  if (polled <= 0) return std::nullopt;
  std::string text(kMaxHandlerDsnBytes + 1, '\0');
  ssize_t received;
  do {
    received = recv(fd, text.data(), text.size(), MSG_DONTWAIT);
  } while (received < 0 && errno == EINTR);
  if (received <= 0 || static_cast<size_t>(received) > kMaxHandlerDsnBytes) return std::nullopt;
  text.resize(static_cast<size_t>(received));
  return ParseDsn(text);
}

}  // namespace

int RunCrashHandler(int argc, char** argv, MinidumpSource& minidumps) {
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
      options[argument.substr(2, equals - 2)] = argument.substr(equals + 1);
    }
  }
  signal(SIGPIPE, SIG_IGN);
  if (options["fd"].empty() || options["database-fd"].empty() ||
      options["event"].find('/') != std::string::npos)
    return 2;
  try {
    const int fd = std::stoi(options["fd"]);
    // The folder the client opened, whatever its name leads to by now.
    const Database database(unique_fd(std::stoi(options["database-fd"])),
                            "the crash-report folder");
    const std::optional<Dsn> dsn = ReceiveDsn(fd);
    if (!dsn) return 2;
    const pid_t client = getppid();
    CrashReporterSettings settings{*dsn, database.RootFd(), options["event"], {}};
    if (!options["connect-timeout-ms"].empty()) {
      settings.Limits.ConnectTimeoutMs = std::stol(options["connect-timeout-ms"]);
    }
    if (!options["total-timeout-ms"].empty()) {
      settings.Limits.TotalTimeoutMs = std::stol(options["total-timeout-ms"]);
    }
    http::CurlHttpSender sender;
    CrashReporter reporter(settings, database, sender, minidumps);
    const ServeResult served = ServeCrashChannel(fd, client, reporter);
    if (!settings.EventFile.empty()) unlinkat(database.RootFd(), settings.EventFile.c_str(), 0);
    // The capture's thread may still hold the crashed process stopped; only our end frees it.
    if (served == ServeResult::kCaptureTimedOut) _exit(3);
  } catch (...) {
    return 1;
  }
  return 0;
}

}  // namespace corvantis::sentry
