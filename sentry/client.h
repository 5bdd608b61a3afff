#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/http/http_sender.h"
#include "sentry/database.h"
#include "sentry/delivery.h"
#include "sentry/dsn.h"
#include "sentry/ids.h"
#include "sentry/json.h"
#include "sentry/os_info.h"
#include "sentry/scope.h"

namespace corvantis::sentry {

class CrashHandlerConnection;
class Transport;

struct ClientOptions {
  std::string Dsn;
  std::string Release;
};

// Everything the client reaches outside itself.
struct ClientDependencies {
  std::shared_ptr<http::HttpSender> Sender;  // used only with a usable DSN
  std::shared_ptr<OsInfoSource> Os;
  // Stamps the events that come without a time, and the envelopes; times the service's limits.
  std::function<std::chrono::system_clock::time_point()> Clock = std::chrono::system_clock::now;
  // Where envelopes wait; empty keeps nothing on disk (failed sends are dropped).
  std::filesystem::path Database;
  sentry::DatabaseLimits DatabaseLimits;
  sentry::TransportLimits TransportLimits;
  // How long Shutdown may spend sending.
  std::chrono::milliseconds ShutdownBudget{2000};
  // The crash handler executable; empty catches no crash.
  std::filesystem::path CrashHandler;
};

// The shipped program's: libcurl, uname, ".sentry-native" in the current directory, and the
// crash handler beside the executable.
ClientDependencies ProductionDependencies();

// One started client. Without a usable DSN it builds events but sends, stores and catches nothing.
class Client {
 public:
  Client(const ClientOptions& options, ClientDependencies dependencies, const Scope& scope);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // False when a usable DSN was given but sending could not be set up.
  bool Started() const { return started_; }
  // Adds the client facts and the scope and queues the event; returns its id.
  Uuid Capture(Json event);
  // Keeps the crash handler's copy of the scope current.
  void ScopeChanged();
  // Sends what it can within the budget, stops catching crashes. 0 when nothing was lost.
  int Shutdown();

  // The event a crash would send now, without id, time and exception.
  Json CrashEventTemplate() const;

 private:
  void AddClientFacts(Json& event) const;

  const Scope& scope_;
  ClientDependencies dependencies_;
  std::optional<Dsn> dsn_;
  std::string release_;
  Json os_;
  bool started_ = true;
  std::shared_ptr<const Database> database_;
  std::unique_ptr<Transport> transport_;
  std::mutex crashMutex_;  // scope changes may come from any thread, also during Shutdown
  std::unique_ptr<CrashHandlerConnection> crash_;
  std::once_flag shutdown_;
  int shutdownResult_ = 0;
};

}  // namespace corvantis::sentry
