#include "sentry/client.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "sentry/crash_handler_connection.h"
#include "sentry/envelope.h"
#include "sentry/transport.h"

namespace corvantis::sentry {
namespace {

Json OsContext(OsInfoSource& source) {
  const OsInfo info = source.Read();
  Json os = Json::object();
  if (!info.Name.empty()) os["name"] = info.Name;
  if (!info.Version.empty()) os["version"] = info.Version;
  if (!info.Build.empty()) os["build"] = info.Build;
  if (!info.KernelVersion.empty()) os["kernel_version"] = info.KernelVersion;
  return os;
}

// Keeps a well-formed id of the caller's (in the service's 32-digit form), else makes one.
Uuid EnsureEventId(Json& event) {
  const Json* given = event.contains("event_id") ? &event["event_id"] : nullptr;
  std::optional<Uuid> id;
  if (given != nullptr && given->is_string()) id = ParseUuid(given->get<std::string>());
  if (!id) id = NewUuidV4();
  event["event_id"] = ToHex(*id);
  return *id;
}

}  // namespace

Client::Client(const ClientOptions& options, ClientDependencies dependencies, const Scope& scope)
    : scope_(scope),
      dependencies_(std::move(dependencies)),
      dsn_(ParseDsn(options.Dsn)),
      release_(options.Release) {
  if (dependencies_.Os) os_ = OsContext(*dependencies_.Os);
  if (!dsn_) return;
  if (!dependencies_.Database.empty()) {
    try {
      database_ = std::make_shared<Database>(dependencies_.Database, dependencies_.DatabaseLimits);
    } catch (const std::exception& error) {
      // A folder that cannot be made (a read-only current directory) or cannot be trusted costs
      // the keeping of envelopes and the catching of crashes, not the sending.
      std::fprintf(stderr, "Crash reports are off for this run: %s\n", error.what());
    }
  }
  try {
    if (!dependencies_.Sender) throw std::invalid_argument("no HTTP sender");
    transport_ = std::make_unique<Transport>(dependencies_.Sender, *dsn_, database_,
                                             dependencies_.TransportLimits, dependencies_.Clock);
  } catch (...) {
    // Events are still built and scoped, just not sent.
    started_ = false;
    return;
  }
  if (database_ && !dependencies_.CrashHandler.empty()) {
    crash_ = CrashHandlerConnection::Start({.Handler = dependencies_.CrashHandler,
                                            .Database = database_,
                                            .Dsn = dsn_->Raw,
                                            .Limits = dependencies_.TransportLimits},
                                           [this] { return CrashEventTemplate(); });
  }
}

Client::~Client() { Shutdown(); }

void Client::AddClientFacts(Json& event) const {
  if (!event.contains("timestamp")) event["timestamp"] = FormatTimestamp(dependencies_.Clock());
  if (!event.contains("platform")) event["platform"] = "native";
  if (!event.contains("sdk")) event["sdk"] = {{"name", kSdkName}, {"version", kSdkVersion}};
  if (!release_.empty() && !event.contains("release")) event["release"] = release_;
  Json& contexts = event["contexts"];
  if (!contexts.is_object()) contexts = Json::object();
  if (!contexts.contains("os")) contexts["os"] = os_;
}

Uuid Client::Capture(Json event) {
  const Uuid id = EnsureEventId(event);
  AddClientFacts(event);
  scope_.ApplyTo(event);
  if (transport_) {
    const std::string idHex = ToHex(id);
    const std::string sentAt = FormatTimestamp(dependencies_.Clock());
    transport_->Enqueue(Envelope::ForEvent(idHex, dsn_->Raw, sentAt, Dump(event)).Serialize());
  }
  return id;
}

Json Client::CrashEventTemplate() const {
  Json event = {{"level", "fatal"}};
  AddClientFacts(event);
  event.erase("timestamp");
  scope_.ApplyTo(event);
  return event;
}

void Client::ScopeChanged() {
  const std::lock_guard lock(crashMutex_);
  if (crash_) crash_->UpdateEventTemplate();
}

int Client::Shutdown() {
  std::call_once(shutdown_, [this] {
    if (transport_) {
      shutdownResult_ = transport_->Shutdown(dependencies_.ShutdownBudget) == 0 ? 0 : 1;
    }
    // Crashes stay caught until here: the flush above may still fault.
    const std::lock_guard lock(crashMutex_);
    crash_.reset();
  });
  return shutdownResult_;
}

}  // namespace corvantis::sentry
