#include "sentry/sentry.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "sentry/client.h"
#include "sentry/ids.h"
#include "sentry/scope.h"
#include "sentry/shell.h"
#include "sentry/value.h"

struct sentry_options_s {
  std::string Dsn;
  std::string Release;
};

namespace corvantis::sentry {
namespace {

// Lock order: lifecycle, then client; the scope stands alone.
std::mutex g_lifecycleMutex;
std::mutex g_clientMutex;
std::shared_ptr<Client> g_client;
Scope g_scope;

std::shared_ptr<Client> CurrentClient() {
  const std::lock_guard lock(g_clientMutex);
  return g_client;
}

void ScopeChanged() {
  if (const std::shared_ptr<Client> client = CurrentClient()) client->ScopeChanged();
}

const char* LevelName(sentry_level_t level) {
  switch (level) {
    case SENTRY_LEVEL_DEBUG: return "debug";
    case SENTRY_LEVEL_INFO: return "info";
    case SENTRY_LEVEL_WARNING: return "warning";
    case SENTRY_LEVEL_FATAL: return "fatal";
    case SENTRY_LEVEL_ERROR: break;
  }
  return "error";
}

sentry_uuid_t ToSentryUuid(const Uuid& uuid) {
  sentry_uuid_t result;
  std::memcpy(result.bytes, uuid.data(), uuid.size());
  return result;
}

int ShutdownLocked() {
  std::shared_ptr<Client> client;
  {
    const std::lock_guard lock(g_clientMutex);
    client = std::move(g_client);
  }
  // The scope outlives a client only when there was none: values set before init are kept.
  if (!client) return 0;
  // Outside the client lock: captures meanwhile find no client instead of waiting.
  const int result = client->Shutdown();
  g_scope.Clear();
  return result;
}

}  // namespace

int InitWithDependencies(sentry_options_t* options, ClientDependencies dependencies) {
  const std::unique_ptr<sentry_options_s> owned(options);
  if (!owned) return 1;
  const std::lock_guard lifecycle(g_lifecycleMutex);
  ShutdownLocked();
  auto client = std::make_shared<Client>(ClientOptions{owned->Dsn, owned->Release},
                                         std::move(dependencies), g_scope);
  const int result = client->Started() ? 0 : 1;
  const std::lock_guard lock(g_clientMutex);
  g_client = std::move(client);
  return result;
}

Json ScopeSnapshot() { return g_scope.Snapshot(); }

void ClearScope() { g_scope.Clear(); }

}  // namespace corvantis::sentry

using namespace corvantis::sentry;

extern "C" {

sentry_options_t* sentry_options_new(void) { return new sentry_options_s; }

void sentry_options_set_dsn(sentry_options_t* options, const char* dsn) {
  if (options != nullptr) options->Dsn = dsn == nullptr ? "" : dsn;
}

void sentry_options_set_release(sentry_options_t* options, const char* release) {
  if (options != nullptr) options->Release = release == nullptr ? "" : release;
}

int sentry_init(sentry_options_t* options) {
  return InitWithDependencies(options, ProductionDependencies());
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
  Json& json = event._node->Json;
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

void sentry_set_user(sentry_value_t user) {
  g_scope.SetUser(TakeJson(user));
  ScopeChanged();
}

void sentry_set_tag(const char* key, const char* value) {
  if (key == nullptr || value == nullptr) return;
  g_scope.SetTag(key, value);
  ScopeChanged();
}

void sentry_add_breadcrumb(sentry_value_t breadcrumb) {
  g_scope.AddBreadcrumb(TakeJson(breadcrumb));
  ScopeChanged();
}

sentry_uuid_t sentry_capture_event(sentry_value_t event) {
  Json json = TakeJson(event);
  const std::shared_ptr<Client> client = CurrentClient();
  if (!client || !json.is_object()) return sentry_uuid_nil();
  return ToSentryUuid(client->Capture(std::move(json)));
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
