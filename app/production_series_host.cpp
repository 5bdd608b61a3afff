#include "amf/factory_helper.h"
#include "app/crash_reporting.h"
#include "app/session_environment.h"
#include "platform/debug_output.h"
#include "platform/module_path.h"
#include "scenarios/scenario_matrix.h"
#include "scenarios/scenario_series.h"

namespace corvantis {

namespace {

class ProductionHost final : public SeriesHost {
 public:
  std::span<const ClipScenario> Matrix() override { return ScenarioMatrix; }
  AMF_RESULT LoadRuntime() override { return g_AMFFactory().LoadRuntime(); }
  amf::AMFFactory* RuntimeFactory() override { return g_AMFFactory().RuntimeFactory(); }
  amf::amf_uint64 RuntimeVersion() override { return g_AMFFactory().RuntimeVersion(); }
  bool IsDebuggerPresent() override { return corvantis::IsDebuggerPresent(); }
  void EnableAmfDebugTracing() override { g_AMFFactory().EnableAmfDebugTracing(); }
  void ReportAmfVersion(const std::string& versionText, amf::amf_uint64 version) override {
    corvantis::ReportAmfVersion(versionText, version);
  }
  Clock& GetClock() override { return SystemClock(); }
  std::wstring OutputDirectory() override { return GetExecutableDirectory(); }
};

}  // namespace

SeriesHost& ProductionSeriesHost() {
  static ProductionHost host;
  return host;
}

}  // namespace corvantis
