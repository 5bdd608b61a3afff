#include "sentry/crash_handler_connection.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "sentry/crash_request.h"
#include "sentry/crash_signal_handler.h"

extern char** environ;

namespace corvantis::sentry {
namespace {

// The handler's end of the channel and the database folder, at fixed numbers in the handler
// process; it inherits nothing else but the standard streams.
constexpr int kHandlerFd = 3;
constexpr int kDatabaseFd = 4;
constexpr int kFirstUnusedFd = 5;

// A copy of `fd` numbered above the handler's fixed descriptors, so that no dup2 onto one of
// them overwrites the source of another (and none is dup2'd onto itself, which would keep
// close-on-exec set).
unique_fd CopyAboveFixedNumbers(int fd) {
  return unique_fd(fcntl(fd, F_DUPFD_CLOEXEC, kFirstUnusedFd));
}

}  // namespace

std::vector<std::string> CrashHandlerArguments(const CrashHandlerSettings& settings,
                                               const std::string& eventFile) {
  return {settings.Handler.string(),
          "--fd=" + std::to_string(kHandlerFd),
          "--database-fd=" + std::to_string(kDatabaseFd),
          "--event=" + eventFile,
          "--connect-timeout-ms=" + std::to_string(settings.Limits.ConnectTimeoutMs),
          "--total-timeout-ms=" + std::to_string(settings.Limits.TotalTimeoutMs)};
}

CrashHandlerConnection::CrashHandlerConnection(EventTemplate eventTemplate,
                                               std::shared_ptr<const Database> database)
    : eventTemplate_(std::move(eventTemplate)),
      database_(std::move(database)),
      eventFile_("crash-event-" + std::to_string(getpid()) + ".json") {}

std::unique_ptr<CrashHandlerConnection> CrashHandlerConnection::Start(
    const CrashHandlerSettings& settings, EventTemplate eventTemplate) {
  if (!settings.Database || settings.Dsn.size() > kMaxHandlerDsnBytes ||
      access(settings.Handler.c_str(), X_OK) != 0) {
    return nullptr;
  }
  std::unique_ptr<CrashHandlerConnection> connection(
      new CrashHandlerConnection(std::move(eventTemplate), settings.Database));
  connection->UpdateEventTemplate();

  int ends[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
  unique_fd ours(ends[0]);
  const unique_fd theirsAnywhere(ends[1]);
  const unique_fd theirs = CopyAboveFixedNumbers(theirsAnywhere.get());
  // The folder as this process opened it: the handler never resolves its name again, so a
  // folder swapped for a link later cannot hand it a neighbour's event or take its report.
  const unique_fd database = CopyAboveFixedNumbers(settings.Database->RootFd());
  if (!theirs || !database) return nullptr;
  std::vector<std::string> arguments = CrashHandlerArguments(settings, connection->eventFile_);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, theirs.get(), kHandlerFd);
  posix_spawn_file_actions_adddup2(&actions, database.get(), kDatabaseFd);
  // It prints nothing, and must not hold the program's pipes open while it sends after a crash.
  for (const int standard : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, standard, "/dev/null", O_RDWR, 0);
  }
  // Nor anything else the program holds open without close-on-exec (a caller's pipe, a file).
  posix_spawn_file_actions_addclosefrom_np(&actions, kFirstUnusedFd);
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, settings.Handler.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return nullptr;
  connection->handlerPid_ = pid;
  connection->socket_ = std::move(ours);
  // Queued in the channel before the handler reads anything, so it needs no wait of ours.
  if (send(connection->socket_.get(), settings.Dsn.data(), settings.Dsn.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(settings.Dsn.size())) {
    return nullptr;
  }
  if (!StartHandingCrashesTo(connection->socket_.get(), pid)) return nullptr;
  return connection;
}

CrashHandlerConnection::~CrashHandlerConnection() {
  if (socket_) StopHandingCrashes();
  // The handler process ends when its channel closes.
  socket_.reset();
  if (handlerPid_ > 0) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (waitpid(handlerPid_, nullptr, WNOHANG) == 0 &&
           std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  database_->RemoveFile(eventFile_);
}

void CrashHandlerConnection::UpdateEventTemplate() {
  const std::lock_guard lock(writeMutex_);
  try {
    database_->ReplaceFile(eventFile_, Dump(eventTemplate_()));
  } catch (...) {
    // The handler then sends what the file held before, or a bare crash event.
  }
}

}  // namespace corvantis::sentry
