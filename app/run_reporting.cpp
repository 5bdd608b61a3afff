#include "app/run_reporting.h"

#include <ctime>

#include "app/crash_reporting.h"
#include "platform/console.h"
#include "platform/format_text.h"
#include "platform/graphics.h"
#include "platform/host_facts.h"
#include "platform/library_versions.h"
#include "platform/module_path.h"
#include "platform/registry.h"
#include "platform/terminal.h"
#include "platform/utf.h"
#include "platform/va_display.h"
#include "report/report_files.h"
#include "report/run_reporter.h"

namespace corvantis {

namespace {

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The AMD driver's release as the driver key holds it, when there is one.
std::string DriverText() {
  std::unique_ptr<RegistryKey> key = LinuxRegistry().OpenLocalMachineKey(kAmdDriverKey);
  if (!key) return {};
  for (const wchar_t* name : {L"ExternalReleaseVersion", L"ReleaseVersion"}) {
    std::uint8_t data[512];
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    if (key->QueryValue(name, &type, data, &size) != ERROR_SUCCESS || type != REG_SZ) continue;
    std::wstring text;
    for (std::uint32_t i = 0; i + 1 < size; i += 2) {
      const auto unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
      if (unit == 0) break;
      text += unit;
    }
    if (!text.empty()) return "amdgpu " + WideToUtf8Lossy(text);
  }
  return {};
}

}  // namespace

DriverStack ReadDriverStack(const std::string& node, const AdapterSources& sources) {
  DriverStack stack;
  if (node.empty()) return stack;
  for (const RenderNodeFacts& facts : ListRenderNodes(sources)) {
    if (facts.Node != node) continue;
    stack.KernelDriver = facts.KernelDriver;
    stack.KernelModuleVersion = facts.ModuleVersion;
    stack.VbiosVersion = facts.VbiosVersion;
    stack.Firmware = facts.Firmware;
  }
  std::string error;
  if (const auto display = VaDisplay::Open(node, {}, &error)) {
    stack.VaVendor = display->VendorString();
    stack.VaDriverPath = display->DriverPath();
    const std::string file = stack.VaDriverPath.substr(stack.VaDriverPath.rfind('/') + 1);
    stack.VaDriver = file.substr(0, file.rfind("_drv_video.so"));
  }
  return stack;
}

void AddLibraryVersions(DriverStack& stack) {
  const LibraryVersions versions = LoadedLibraryVersions();
  stack.Libva = versions.Libva;
  stack.Libavcodec = versions.Libavcodec;
  stack.Libx264 = versions.Libx264;
  stack.Libx265 = versions.Libx265;
}

std::unique_ptr<SeriesObserver> MakeRunReporter(const BenchmarkSession& session) {
  RunRecord run;
  run.ProgramVersion = CORVANTIS_VERSION;
  run.StartUtc = UtcNow();
  run.Host = ReadHostFacts();
  const DXGI_ADAPTER_DESC1& d = session.AdapterDescription;
  run.Adapter = {
      WideToUtf8Lossy(d.Description), d.VendorId, d.DeviceId, d.SubSysId, d.Revision, DriverText()};
  const std::string node = session.Adapter ? session.Adapter->RenderNodePath() : "";
  run.Options.Adapter = node.empty() ? "Software" : session.Options.AdapterIndex < 0 ? "AMD" : node;
  run.Stack = ReadDriverStack(node, AdapterSources{});
  run.CompleteStack = AddLibraryVersions;
  run.Options.ClipSeconds = session.Options.ClipSeconds;

  std::string reportPath;
  if (session.Options.WriteReport) {
    reportPath = session.Options.ReportPath.empty()
                     ? DefaultReportPath(WideToUtf8Lossy(GetExecutableDirectory()),
                                         SystemClock().GetLocalTime())
                     : WideToUtf8Lossy(session.Options.ReportPath);
    const std::string why = ProbeWritable(reportPath);
    if (!why.empty()) {
      StdErr().WriteLine(L"corvantis: cannot write the report (" + Utf8ToWide(why) +
                         L"); the run goes on without it.");
      reportPath.clear();
    }
    run.Options.ReportPath = reportPath;
  }
  std::unique_ptr<ProgressLine> progress;
  if (StdErrIsTerminal()) progress = std::make_unique<ProgressLine>(StdErr(), SystemClock(), 2);
  return std::make_unique<RunReporter>(std::move(run), std::move(reportPath), std::move(progress));
}

}  // namespace corvantis
