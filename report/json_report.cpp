#include "report/json_report.h"

#include "platform/format_text.h"
#include "platform/utf.h"
#include "report/stop_reason.h"
#include "scenarios/scenario_matrix.h"

namespace corvantis {

using nlohmann::json;

namespace {

std::string Utf8(const std::wstring& text) { return WideToUtf8Lossy(text); }

std::string Hex(std::uint32_t value, int digits) {
  return FormatNarrow("0x%0*X", digits, static_cast<unsigned>(value));
}

json OrNull(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

json Percentiles(const LatencyPercentiles& p) {
  return {{"p50", p.P50}, {"p95", p.P95}, {"p99", p.P99}, {"max", p.Max}};
}

json ClipJson(const ClipRecord& clip) {
  const ClipScenario& s = clip.Scenario;
  json j = {{"mode", Utf8(ModeText(s))},
            {"width", s.Width},
            {"height", s.Height},
            {"frame_rate", s.FrameRate()},
            {"duration_seconds", s.DurationSeconds},
            {"frame_budget_ms", 1000.0 / s.FrameRate()},
            {"verdict", VerdictName(clip.Verdict)}};
  if (clip.Verdict == ClipVerdict::Error)
    j["error"] = {{"hresult", Hex(static_cast<std::uint32_t>(clip.ErrorCode), 8)},
                  {"message", Utf8(ErrorText(clip.ErrorCode, clip.ErrorMessage))},
                  {"detail", Utf8(ErrorText(S_OK, clip.ErrorMessage))}};
  if (clip.Verdict == ClipVerdict::Skipped) return j;

  const ClipTiming& t = clip.Timing;
  const bool measured = clip.Verdict != ClipVerdict::Error || !clip.Frames.empty();
  j["stream_file"] = OrNull(Utf8(clip.StreamPath));
  j["snapshot_file"] = OrNull(Utf8(clip.SnapshotPath));
  if (!measured) return j;
  if (clip.Verdict != ClipVerdict::Error) {
    j["elapsed_seconds"] = clip.ElapsedSeconds;
    j["elapsed_ratio"] = clip.ElapsedRatio;
    j["average_ms"] = clip.AverageMs;
  }
  j["frames"] = clip.FrameCount;
  j["frames_encoded"] = t.Frames;
  j["latency_us"] = {{"all", Percentiles(t.All)}, {"later_half", Percentiles(t.LaterHalf)}};
  j["lateness"] = {{"threshold_us", kLateThresholdUs},
                   {"late_frames", t.LateFrames},
                   {"max_us", t.MaxLatenessUs},
                   {"longest_run", t.LongestLateRun}};
  j["frames_in_flight"] = {{"mean", t.InFlightMean}, {"max", t.InFlightMax}};
  j["bit_rate"] = {
      {"achieved", t.BitRate}, {"target", kTargetBitrate}, {"stream_bytes", t.StreamBytes}};
  j["input_frame_rate"] = t.InputFrameRate;
  json latenciesUs = json::array();
  json latenciesMs = json::array();
  for (const FrameSample& f : clip.Frames) {
    latenciesUs.push_back(f.LatencyUs);
    latenciesMs.push_back(f.LatencyMs);
  }
  j["frame_latencies_us"] = std::move(latenciesUs);
  j["frame_latencies_ms"] = std::move(latenciesMs);
  return j;
}

json StackJson(const DriverStack& s) {
  json firmware = json::object();
  for (const auto& [name, version] : s.Firmware) firmware[name] = version;
  return {{"va_driver",
           {{"name", OrNull(s.VaDriver)},
            {"path", OrNull(s.VaDriverPath)},
            {"vendor", OrNull(s.VaVendor)}}},
          {"libva", OrNull(s.Libva)},
          {"libavcodec", OrNull(s.Libavcodec)},
          {"libx264", OrNull(s.Libx264)},
          {"libx265", OrNull(s.Libx265)},
          {"kernel_driver",
           {{"name", OrNull(s.KernelDriver)}, {"module_version", OrNull(s.KernelModuleVersion)}}},
          {"vbios_version", OrNull(s.VbiosVersion)},
          {"firmware", s.Firmware.empty() ? json(nullptr) : firmware}};
}

}  // namespace

json ReportJson(const RunRecord& run) {
  std::string runtimeVersion;
  json libraries = json::object();
  for (const SeriesRecord& series : run.Series) {
    if (runtimeVersion.empty()) runtimeVersion = series.RuntimeVersion;
    if (!series.EncoderLibrary.empty()) libraries[Utf8(series.Label)] = Utf8(series.EncoderLibrary);
  }
  const HostFacts& h = run.Host;
  const AdapterFacts& a = run.Adapter;
  json report = {
      {"schema_version", kReportSchemaVersion},
      {"program", {{"name", "Corvantis"}, {"version", run.ProgramVersion}}},
      {"start_utc", run.StartUtc},
      {"host",
       {{"cpu_model", OrNull(h.CpuModel)},
        {"logical_cores", h.LogicalCores},
        {"memory_bytes", h.MemoryBytes},
        {"kernel", OrNull(h.Kernel)},
        {"distribution", OrNull(h.Distribution)}}},
      {"adapter",
       {{"description", a.Description},
        {"vendor_id", Hex(a.VendorId, 4)},
        {"device_id", Hex(a.DeviceId, 4)},
        {"subsys_id", Hex(a.SubSysId, 4)},
        {"revision", Hex(a.Revision, 4)},
        {"driver", OrNull(a.Driver)}}},
      {"driver_stack", StackJson(run.Stack)},
      {"encoder_runtime", {{"version", OrNull(runtimeVersion)}, {"encoder_libraries", libraries}}},
      {"options",
       {{"adapter", run.Options.Adapter},
        {"clip_seconds", run.Options.ClipSeconds != 0 ? run.Options.ClipSeconds : kClipSeconds},
        {"report", run.Options.ReportPath}}},
      {"target_bit_rate", kTargetBitrate}};
  json series = json::array();
  for (const SeriesRecord& s : run.Series) {
    json clips = json::array();
    for (const ClipRecord& clip : s.Clips) clips.push_back(ClipJson(clip));
    series.push_back({{"codec", Utf8(s.Label)},
                      {"runtime_version", OrNull(s.RuntimeVersion)},
                      {"encoder_library", OrNull(Utf8(s.EncoderLibrary))},
                      {"finished", s.Finished},
                      {"clips", std::move(clips)}});
  }
  report["series"] = std::move(series);
  return report;
}

}  // namespace corvantis
