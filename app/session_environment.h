#pragma once
#include <string>

#include "platform/graphics.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/codec_profile.h"

namespace corvantis {

class SeriesHost;

// What a benchmark session calls outside its own steps; tests replace it with a recording fake.
class SessionEnvironment {
 public:
  virtual ~SessionEnvironment() = default;
  // Joins the process-wide runtime (locale, libraries). A failure leaves the session at once.
  virtual HRESULT RoInitialize() = 0;
  virtual GraphicsApi& Graphics() = 0;
  virtual void StartCrashReporting() = 0;
  virtual void ReportUser(const std::wstring& email) = 0;
  virtual void ReportDriverVersion() = 0;
  virtual void ReportAdapter(const DXGI_ADAPTER_DESC1& description) = 0;
  virtual void RunScenarioSeries(BenchmarkSession& session, const CodecProfile& profile) = 0;
  virtual void SubmitResults(BenchmarkSession& session) = 0;
  virtual void StopCrashReporting() = 0;
};

// The real steps of this program.
SessionEnvironment& ProductionEnvironment();

// The series host of this program: the process-wide runtime loader, the system clock and the
// executable's folder.
SeriesHost& ProductionSeriesHost();

}  // namespace corvantis
