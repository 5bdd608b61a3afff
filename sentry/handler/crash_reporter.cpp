#include "sentry/handler/crash_reporter.h"

#include <utility>

#include "platform/fault_signals.h"
#include "platform/file_bytes.h"
#include "sentry/envelope.h"
#include "sentry/ids.h"

namespace corvantis::sentry {
namespace {

// Far beyond what a scope of 100 breadcrumbs makes.
constexpr std::size_t kMaxEventTemplateBytes = 16 << 20;

}  // namespace

Json ReadEventTemplate(int folder, const std::string& name) {
  const std::optional<std::string> text = ReadRegularFile(folder, name, kMaxEventTemplateBytes);
  if (!text) return nullptr;
  std::optional<Json> json = ParseJson(*text);
  if (!json || !json->is_object()) return nullptr;
  return std::move(*json);
}

Json BuildCrashEvent(Json eventTemplate, const CrashRequest& request) {
  Json event = Json::object();
  event["event_id"] = ToHex(NewUuidV4());
  event["timestamp"] = NowTimestamp();
  if (eventTemplate.is_object()) {
    for (auto& [key, value] : eventTemplate.items()) {
      if (key != "event_id" && key != "timestamp") event[key] = std::move(value);
    }
  }
  event["level"] = "fatal";
  if (!event.contains("platform")) event["platform"] = "native";
  if (!event.contains("sdk")) event["sdk"] = {{"name", kSdkName}, {"version", kSdkVersion}};

  std::string name = "signal " + std::to_string(request.Signal);
  std::string description = name;
  for (const FaultSignal& known : kFaultSignals) {
    if (known.Number == request.Signal) {
      name = known.Name;
      description = known.Description;
    }
  }
  Json signal = {{"number", request.Signal}, {"code", request.Info.si_code}, {"name", name}};
  Json exception = {{"type", name}, {"value", description}};
  exception["mechanism"] = {{"type", "signalhandler"},
                            {"handled", false},
                            {"synthetic", true},
                            {"meta", {{"signal", signal}}}};
  event["exception"] = {{"values", Json::array({exception})}};
  return event;
}

CrashReporter::CrashReporter(CrashReporterSettings settings, const Database& database,
                             http::HttpSender& sender, MinidumpSource& minidumps)
    : settings_(std::move(settings)), database_(database), sender_(sender), minidumps_(minidumps) {}

void CrashReporter::Capture(const CrashRequest& request) {
  std::optional<std::string> minidump;
  try {
    minidump = minidumps_.Write(request);
  } catch (...) {
    // The event goes without its dump.
  }
  Keep(request, std::move(minidump));
}

void CrashReporter::CaptureTimedOut(const CrashRequest& request) { Keep(request, std::nullopt); }

void CrashReporter::Keep(const CrashRequest& request, std::optional<std::string> minidump) {
  // The first to get here keeps the report: a capture that finished, or the timed-out one.
  if (keeping_.exchange(true)) return;
  const Json event =
      BuildCrashEvent(ReadEventTemplate(settings_.DatabaseFolder, settings_.EventFile), request);
  const std::string eventId = event["event_id"];
  Envelope envelope = Envelope::ForEvent(eventId, settings_.Dsn.Raw, NowTimestamp(), Dump(event));
  if (minidump) envelope.AddAttachment(eventId + ".dmp", "event.minidump", std::move(*minidump));
  envelope_ = envelope.Serialize();
  if (minidump && !database_.Fits(envelope_.size())) {
    // A dump beyond the database's bound would cost the whole report.
    envelope.Items.pop_back();
    envelope_ = envelope.Serialize();
  }
  stored_ = database_.Store(envelope_);
}

void CrashReporter::Deliver() {
  if (envelope_.empty()) return;
  const long connectMs = settings_.Limits.ConnectTimeoutMs;
  const long totalMs = settings_.Limits.TotalTimeoutMs;
  if (stored_) {
    SendClaimed(database_, *stored_, sender_, settings_.Dsn, connectMs, totalMs, nullptr);
  } else {
    // Nowhere to keep it: one attempt, unless the service asked for none now.
    RateLimits limits(&database_);
    PostEnvelope(sender_, settings_.Dsn, envelope_, connectMs, totalMs, nullptr, &limits);
  }
}

}  // namespace corvantis::sentry
