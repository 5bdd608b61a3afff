#include "platform/sentry/sentry.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/http/curl_http_sender.h"
#include "platform/sentry/dsn.h"
#include "platform/sentry/envelope.h"
#include "platform/sentry/ids.h"
#include "platform/sentry/os_info_linux.h"
#include "platform/sentry/scope.h"
#include "platform/sentry/sentry_testing.h"
#include "platform/sentry/transport.h"
#include "platform/sentry/value.h"

struct sentry_options_s {
  std::string dsn;
  std::string release;
};

namespace corvantis::sentry {
namespace {

constexpr std::chrono::milliseconds kDefaultShutdownBudget{2000};

struct Client {
  std::optional<Dsn> dsn;
  std::string release;
  Json os;
  std::unique_ptr<Transport> transport;  // none when there is nowhere to send to
};

struct Hooks {
  std::shared_ptr<http::HttpSender> sender;
  std::shared_ptr<OsInfoSource> os;
  std::chrono::milliseconds shutdownBudget = kDefaultShutdownBudget;
};

// Lock order: lifecycle, then client; hooks and the scope stand alone.
std::mutex g_lifecycleMutex;
std::mutex g_clientMutex;
std::shared_ptr<Client> g_client;
std::mutex g_hooksMutex;
Hooks g_hooks;
Scope g_scope;

Hooks CurrentHooks() {
  const std::lock_guard lock(g_hooksMutex);
  return g_hooks;
}

std::shared_ptr<Client> CurrentClient() {
  const std::lock_guard lock(g_clientMutex);
  return g_client;
}

const char* LevelName(sentry_level_t level) {
  switch (level) {
    case SENTRY_LEVEL_DEBUG:
      return "debug";
    case SENTRY_LEVEL_INFO:
      return "info";
    case SENTRY_LEVEL_WARNING:
      return "warning";
    case SENTRY_LEVEL_FATAL:
      return "fatal";
    case SENTRY_LEVEL_ERROR:
      break;
  }
  return "error";
}

sentry_uuid_t ToSentryUuid(const Uuid& uuid) {
  sentry_uuid_t result;
  std::memcpy(result.bytes, uuid.data(), uuid.size());
  return result;
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

void AddClientFacts(Json& event, const Client& client) {
  if (!event.contains("timestamp")) event["timestamp"] = NowTimestamp();
  if (!event.contains("platform")) event["platform"] = "native";
  if (!event.contains("sdk")) event["sdk"] = {{"name", kSdkName}, {"version", kSdkVersion}};
  if (!client.release.empty() && !event.contains("release")) event["release"] = client.release;
  Json& contexts = event["contexts"];
  if (!contexts.is_object()) contexts = Json::object();
  if (!contexts.contains("os")) contexts["os"] = client.os;
}

Json OsContext(OsInfoSource& source) {
  const OsInfo info = source.Read();
  Json os = Json::object();
  if (!info.name.empty()) os["name"] = info.name;
  if (!info.version.empty()) os["version"] = info.version;
  if (!info.build.empty()) os["build"] = info.build;
  return os;
}

int ShutdownLocked() {
  std::shared_ptr<Client> client;
  {
    const std::lock_guard lock(g_clientMutex);
    client = std::move(g_client);
  }
  // The scope outlives a client only when there was none: values set before init are kept.
  if (!client) return 0;
  std::size_t dropped = 0;
  // Outside the client lock: captures meanwhile find no client instead of waiting.
  if (client->transport) {
    dropped = client->transport->Shutdown(CurrentHooks().shutdownBudget);
  }
  g_scope.Clear();
  return dropped == 0 ? 0 : 1;
}

}  // namespace

namespace testing {

void SetHttpSender(std::shared_ptr<http::HttpSender> sender) {
  const std::lock_guard lock(g_hooksMutex);
  g_hooks.sender = std::move(sender);
}

void SetOsInfoSource(std::shared_ptr<OsInfoSource> source) {
  const std::lock_guard lock(g_hooksMutex);
  g_hooks.os = std::move(source);
}

void SetShutdownBudget(std::chrono::milliseconds budget) {
  const std::lock_guard lock(g_hooksMutex);
  g_hooks.shutdownBudget = budget;
}

void ResetHooks() {
  const std::lock_guard lock(g_hooksMutex);
  g_hooks = Hooks{};
}

Json ScopeSnapshot() { return g_scope.Snapshot(); }

void ClearScope() { g_scope.Clear(); }

Json ValueJson(sentry_value_t value) {
  const Json* json = PeekJson(value);
  return json == nullptr ? Json() : *json;
}

}  // namespace testing
}  // namespace corvantis::sentry

using namespace corvantis::sentry;

extern "C" {

sentry_options_t* sentry_options_new(void) { return new sentry_options_s; }

void sentry_options_free(sentry_options_t* options) { delete options; }

void sentry_options_set_dsn(sentry_options_t* options, const char* dsn) {
  if (options != nullptr) options->dsn = dsn == nullptr ? "" : dsn;
}

void sentry_options_set_release(sentry_options_t* options, const char* release) {
  if (options != nullptr) options->release = release == nullptr ? "" : release;
}

int sentry_init(sentry_options_t* options) {
  const std::unique_ptr<sentry_options_s> owned(options);
  if (!owned) return 1;
  const std::lock_guard lifecycle(g_lifecycleMutex);
  ShutdownLocked();

  const Hooks hooks = CurrentHooks();
  auto client = std::make_shared<Client>();
  client->dsn = ParseDsn(owned->dsn);
  client->release = owned->release;
  LinuxOsInfoSource linuxOs;
  client->os = OsContext(hooks.os ? *hooks.os : linuxOs);
  int result = 0;
  if (client->dsn) {
    try {
      std::shared_ptr<corvantis::http::HttpSender> sender = hooks.sender;
      if (!sender) sender = std::make_shared<corvantis::http::CurlHttpSender>();
      client->transport = std::make_unique<Transport>(std::move(sender), *client->dsn);
    } catch (...) {
      // Events are still built and scoped, just not sent.
      result = 1;
    }
  }
  const std::lock_guard lock(g_clientMutex);
  g_client = std::move(client);
  return result;
}

int sentry_shutdown(void) {
  const std::lock_guard lifecycle(g_lifecycleMutex);
  return ShutdownLocked();
}

sentry_value_t sentry_value_new_event(void) {
  return NewValue({{"event_id", ToHex(NewUuidV4())}, {"timestamp", NowTimestamp()}});
}

sentry_value_t sentry_value_new_message_event(sentry_level_t level, const char* logger,
                                              const char* text) {
  const sentry_value_t event = sentry_value_new_event();
  Json& json = event._node->json;
  json["level"] = LevelName(level);
  if (logger != nullptr) json["logger"] = logger;
  if (text != nullptr) json["message"] = {{"formatted", text}};
  return event;
}

sentry_value_t sentry_value_new_breadcrumb(const char* type, const char* message) {
  Json crumb = {{"timestamp", NowTimestamp()}};
  if (type != nullptr) crumb["type"] = type;
  if (message != nullptr) crumb["message"] = message;
  return NewValue(std::move(crumb));
}

void sentry_set_user(sentry_value_t user) { g_scope.SetUser(TakeJson(user)); }

void sentry_set_tag(const char* key, const char* value) {
  if (key != nullptr && value != nullptr) g_scope.SetTag(key, value);
}

void sentry_add_breadcrumb(sentry_value_t breadcrumb) {
  g_scope.AddBreadcrumb(TakeJson(breadcrumb));
}

sentry_uuid_t sentry_capture_event(sentry_value_t event) {
  Json json = TakeJson(event);
  const std::shared_ptr<Client> client = CurrentClient();
  if (!client || !json.is_object()) return sentry_uuid_nil();
  const Uuid id = EnsureEventId(json);
  AddClientFacts(json, *client);
  g_scope.ApplyTo(json);
  if (client->transport) client->transport->Enqueue(ToHex(id), Dump(json));
  return ToSentryUuid(id);
}

sentry_uuid_t sentry_uuid_nil(void) { return sentry_uuid_t{}; }

int sentry_uuid_is_nil(const sentry_uuid_t* uuid) {
  static const sentry_uuid_t kNil{};
  return uuid == nullptr || std::memcmp(uuid->bytes, kNil.bytes, sizeof kNil.bytes) == 0 ? 1 : 0;
}

void sentry_uuid_as_string(const sentry_uuid_t* uuid, char str[37]) {
  Uuid bytes{};
  if (uuid != nullptr) std::memcpy(bytes.data(), uuid->bytes, bytes.size());
  const std::string hex = ToHex(bytes);
  const std::string text = hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) +
                           "-" + hex.substr(16, 4) + "-" + hex.substr(20);
  std::memcpy(str, text.c_str(), text.size() + 1);
}

}  // extern "C"
