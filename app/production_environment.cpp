#include <clocale>

#include "app/crash_reporting.h"
#include "app/run_reporting.h"
#include "app/session_environment.h"
#include "platform/drawing/cairo_drawing.h"
#include "platform/http/curl_http_sender.h"
#include "scenarios/scenario_series.h"
#include "submit/destinations/built_in_destinations.h"
#include "submit/results_submission.h"

namespace corvantis {

namespace {

class Production final : public SessionEnvironment {
 public:
  HRESULT RoInitialize() override {
    // Wide text converts through a UTF-8 character type; numbers keep the "C" full stop.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");
    return S_OK;
  }
  GraphicsApi& Graphics() override { return LinuxGraphics(); }
  void StartCrashReporting() override { corvantis::StartCrashReporting(BuiltInSentryDsn()); }
  void ReportUser(const std::wstring& email) override { corvantis::ReportUser(email); }
  void ReportDriverVersion() override { corvantis::ReportDriverVersion(LinuxRegistry()); }
  void ReportAdapter(const DXGI_ADAPTER_DESC1& description) override {
    corvantis::ReportAdapter(description);
  }
  void RunScenarioSeries(BenchmarkSession& session, const CodecProfile& profile) override {
    if (!reporter_) reporter_ = MakeRunReporter(session);
    corvantis::RunScenarioSeries(session, profile, ProductionSeriesHost(), reporter_.get());
  }
  void SubmitResults(BenchmarkSession& session) override {
    corvantis::http::CurlHttpSender sender;
    corvantis::SubmitResults(session.ResultsText, sender, BuiltInChatEndpoint());
  }
  void StopCrashReporting() override { corvantis::StopCrashReporting(); }

 private:
  std::unique_ptr<SeriesObserver> reporter_;  // made when the first series starts
};

}  // namespace

SessionEnvironment& ProductionEnvironment() {
  static Production environment;
  return environment;
}

}  // namespace corvantis
