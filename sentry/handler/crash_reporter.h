#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/http/http_sender.h"
#include "sentry/database.h"
#include "sentry/delivery.h"
#include "sentry/dsn.h"
#include "sentry/handler/crash_server.h"
#include "sentry/handler/minidump_source.h"
#include "sentry/json.h"

namespace corvantis::sentry {

// The crash event: the template the crashed process kept current (its client facts and scope;
// a bare fatal event when it is null), a new id and time, level "fatal" and the signal as the
// exception.
Json BuildCrashEvent(Json eventTemplate, const CrashRequest& request);

// The content of the event file `name` in the open folder `folder`; null when it is missing, a
// link or anything but a regular file, too large, nested too deep, or not a JSON object.
Json ReadEventTemplate(int folder, const std::string& name);

struct CrashReporterSettings {
  sentry::Dsn Dsn;
  int DatabaseFolder = -1;  // the database's root, as the client opened it
  std::string EventFile;    // a name in that folder
  TransportLimits Limits;
};

// Builds one envelope per crash (the event and, when there is one that fits the database's
// bound, the minidump attachment), commits it to the database before the crashed process is
// let go, then sends it.
class CrashReporter final : public CrashDelegate {
 public:
  CrashReporter(CrashReporterSettings settings, const Database& database, http::HttpSender& sender,
                MinidumpSource& minidumps);

  void Capture(const CrashRequest& request) override;
  void CaptureTimedOut(const CrashRequest& request) override;
  void Deliver() override;

 private:
  void Keep(const CrashRequest& request, std::optional<std::string> minidump);

  std::atomic<bool> keeping_{false};
  CrashReporterSettings settings_;
  const Database& database_;
  http::HttpSender& sender_;
  MinidumpSource& minidumps_;
  std::string envelope_;
  std::optional<ClaimedEnvelope> stored_;
};

}  // namespace corvantis::sentry
