#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/unique_fd.h"
#include "sentry/database.h"
#include "sentry/delivery.h"
#include "sentry/json.h"

namespace corvantis::sentry {

struct CrashHandlerSettings {
  std::filesystem::path Handler;  // the executable
  std::shared_ptr<const sentry::Database> Database;
  std::string Dsn;  // handed over the channel, never on the command line where others see it
  TransportLimits Limits;
};

// This process's side of crash capture: a running handler process, the channel to it, the
// signal handler, and the event a crash would send, kept current in a file the handler reads.
class CrashHandlerConnection {
 public:
  using EventTemplate = std::function<Json()>;

  // Starts the handler process and catches crashes; nullptr when the handler cannot be started
  // (nothing is caught then).
  static std::unique_ptr<CrashHandlerConnection> Start(const CrashHandlerSettings& settings,
                                                       EventTemplate eventTemplate);
  // Stops catching, lets the handler process end and removes the event file.
  ~CrashHandlerConnection();
  CrashHandlerConnection(const CrashHandlerConnection&) = delete;
  CrashHandlerConnection& operator=(const CrashHandlerConnection&) = delete;

  // Rewrites the event file from the template (written aside, then renamed over it).
  void UpdateEventTemplate();

 private:
  CrashHandlerConnection(EventTemplate eventTemplate, std::shared_ptr<const Database> database);

  EventTemplate eventTemplate_;
  std::shared_ptr<const Database> database_;
  std::string eventFile_;  // its name in the database folder
  std::mutex writeMutex_;
  unique_fd socket_;
  pid_t handlerPid_ = 0;
};

// The handler process's command line: its channel end and the database folder are descriptors
// it inherits at fixed numbers, the event file a name in that folder. The DSN follows as the
// channel's first message.
std::vector<std::string> CrashHandlerArguments(const CrashHandlerSettings& settings,
                                               const std::string& eventFile);

}  // namespace corvantis::sentry
