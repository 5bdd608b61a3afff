#include "scenarios/scenario_series.h"

#include "amf/amf_result.h"
#include "amf/api/encoder_properties.h"
#include "amf/encode_pump.h"
#include "amf/factory_helper.h"
#include "amf/surface_pool.h"
#include "platform/console.h"
#include "platform/format_text.h"
#include "platform/hresult_error.h"
#include "platform/utf.h"
#include "scenarios/clip_files.h"
#include "scenarios/frame_canvas.h"
#include "scenarios/results_table.h"
#include "scenarios/scenario_matrix.h"

namespace corvantis {

double ClipAverage(const std::vector<double>& samples) {
  const std::size_t n = samples.size();
  if (n < 2) return 0.0;
  double sum = 0.0;
  for (std::size_t i = n / 2; i < n; ++i) sum += samples[i];
  return sum / static_cast<double>(n - n / 2);
}

bool ClipPassed(double elapsedSeconds, std::uint32_t durationSeconds) {
  return elapsedSeconds / static_cast<double>(durationSeconds) < 1.05;
}

bool SkipAfterFailure(const std::optional<ClipScenario>& failed, const ClipScenario& row) {
  return failed.has_value() && row.FrameRate() > failed->FrameRate();
}

namespace {

class ClipHost final : public EncodeLoopHost {
 public:
  ClipHost(BenchmarkSession& session, amf::amf_uint64 runtimeVersion, const ClipScenario& scenario,
           const std::wstring& clipPath, SeriesObserver* observer)
      : session_(session),
        runtimeVersion_(runtimeVersion),
        scenario_(scenario),
        clipPath_(clipPath),
        observer_(observer) {}

  void RenderFrame(std::uint32_t frameIndex, std::uint32_t frameCount, std::uint32_t windowCount,
                   std::uint32_t latencySum) override {
    corvantis::RenderFrame(session_, runtimeVersion_, scenario_, frameIndex, frameCount,
                           windowCount, latencySum, points_);
    if (observer_ != nullptr)
      observer_->FrameDrawn(frameIndex, frameCount, windowCount, latencySum);
  }
  void CopyFrameToSlot(ID3D11Texture2D* slotTexture) override {
    session_.DeviceContext->CopyResource(slotTexture, session_.FrameTexture.get());
  }
  void SaveLastFrame(ID3D11Texture2D* slotTexture) override {
    WriteLastFrameSnapshot(session_, slotTexture, clipPath_);
  }

 private:
  BenchmarkSession& session_;
  const amf::amf_uint64 runtimeVersion_;
  const ClipScenario& scenario_;
  const std::wstring& clipPath_;
  SeriesObserver* observer_;
  ChartPoints points_;
};

// A string property of the component, empty when it has none.
std::wstring StringProperty(amf::AMFPropertyStorage* storage, const wchar_t* name) {
  amf::AMFVariantStruct value;
  amf::AMFVariantInit(&value);
  std::wstring text;
  if (storage->GetProperty(name, &value) == AMF_OK) {
    if (value.type == amf::AMF_VARIANT_WSTRING && value.wstringValue != nullptr)
      text = value.wstringValue;
    else if (value.type == amf::AMF_VARIANT_STRING && value.stringValue != nullptr)
      text = Utf8ToWide(value.stringValue);
  }
  amf::AMFVariantClear(&value);
  return text;
}

std::uint64_t StreamBytes(const std::vector<std::shared_ptr<std::vector<std::uint8_t>>>& chunks) {
  std::uint64_t bytes = 0;
  for (const auto& chunk : chunks)
    if (chunk) bytes += chunk->size();
  return bytes;
}

// One clip from canvas to verdict; raises on any failure.
// `record` is filled as the clip goes, so that an error still leaves what was known.
void RunClip(BenchmarkSession& session, const CodecProfile& profile, SeriesHost& host,
             const ClipScenario& row, bool& headerAppended, std::vector<ClipResult>& results,
             std::optional<ClipScenario>& failed, SeriesRecord& series, ClipRecord& record,
             SeriesObserver* observer) {
  Console& out = StdOut();
  CreateFrameCanvas(session, row.Width, row.Height);
  out.WriteLine(FormatWide(L"Video: %u x %u, 32-bit RGB, %.2f frames per second, %u seconds",
                           row.Width, row.Height, row.FrameRate(), row.DurationSeconds));
  const std::uint32_t targetBitrate = kTargetBitrate;

  CheckAmfResult(host.LoadRuntime());
  const amf::amf_uint64 version = host.RuntimeVersion();
  const std::string versionText = FormatAmfVersion(version);
  series.RuntimeVersion = versionText;
  if (host.IsDebuggerPresent()) host.EnableAmfDebugTracing();
  amf::AMFFactory* factory = host.RuntimeFactory();
  amf::AMFContextPtr context;
  CheckAmfResult(factory->CreateContext(&context));
  std::call_once(*profile.VersionReported, [&] { host.ReportAmfVersion(versionText, version); });
  CheckAmfResult(context->InitDX11(session.Device.get(), amf::AMF_DX11_0));
  amf::AMFComponentPtr encoder;
  profile.ConfigureEncoder(factory, context.GetPtr(), encoder, row, targetBitrate);
  if (series.EncoderLibrary.empty())
    series.EncoderLibrary = StringProperty(encoder.GetPtr(), CORVANTIS_ENCODER_LIBRARY);
  if (!headerAppended) {
    AppendSeriesHeader(session, profile.Label, versionText);
    headerAppended = true;
  }

  SurfacePool pool;
  BuildSurfacePool(session.Device.get(), context.GetPtr(), session.TextureDescription, pool);
  Clock& clock = host.GetClock();
  const std::wstring clipPath =
      BuildClipPath(host.OutputDirectory(), clock.GetLocalTime(), row, profile.FileExtension);
  out.WriteLine(L"File: " + clipPath);
  record.StreamPath = clipPath;
  record.SnapshotPath = SnapshotPath(clipPath);
  record.FrameCount = row.FrameCount();

  EncodeLoopState state;
  {
    ClipHost clipHost(session, version, row, clipPath, observer);
    RunEncodeLoop(encoder.GetPtr(), pool, row, profile.Properties, state, clipHost, clock);
  }
  record.Timing = SummariseFrames(state.Frames, row, StreamBytes(state.OutputChunks));
  record.Frames = std::move(state.Frames);
  WriteClipStream(clipPath, state.OutputChunks);
  CheckAmfResult(encoder->Terminate());

  const double average = ClipAverage(state.EncodeTimeSamples);
  out.WriteLine(FormatWide(L"Average Encoding Time: %.2f ms", average));
  const double elapsed = static_cast<double>(clock.TimeGetTime() - state.StartTime) / 1000.0;
  out.WriteLine(FormatWide(L"Elapsed Time: %.1f seconds (%.2f%% to expected)", elapsed,
                           elapsed * 100.0 / static_cast<double>(row.DurationSeconds)));
  out.EndLine();

  record.AverageMs = average;
  record.ElapsedSeconds = elapsed;
  record.ElapsedRatio = elapsed / static_cast<double>(row.DurationSeconds);
  std::string outcome;
  if (ClipPassed(elapsed, row.DurationSeconds)) {
    outcome = FormatNarrow("%.2f", average);
    record.Verdict = ClipVerdict::Pass;
  } else {
    outcome = "FAIL";
    failed = row;
    record.Verdict = ClipVerdict::Fail;
  }
  results.push_back(ClipResult{row, std::move(outcome)});

  state = EncodeLoopState();
  pool.Slots.clear();
  encoder.Release();
  context.Release();
  ReleaseFrameCanvas(session);
}

}  // namespace

namespace {

// The row that was running when the series ended says why.
void RecordError(SeriesRecord& series, HRESULT code, std::wstring message) {
  if (series.Clips.empty()) return;
  ClipRecord& record = series.Clips.back();
  record.Verdict = ClipVerdict::Error;
  record.ErrorCode = code;
  record.ErrorMessage = std::move(message);
}

}  // namespace

void RunScenarioSeries(BenchmarkSession& session, const CodecProfile& profile, SeriesHost& host,
                       SeriesObserver* observer) {
  const std::span<const ClipScenario> matrix = host.Matrix();
  const std::uint32_t seconds =
      session.Options.ClipSeconds != 0 ? session.Options.ClipSeconds : kClipSeconds;
  StdOut().WriteLine(FormatWide(L"Trying to record %zu %ls clips, %u seconds long each clip...",
                                matrix.size(), profile.Label, seconds));
  StdOut().EndLine();

  SeriesRecord series;
  series.Label = profile.Label;
  for (ClipScenario row : matrix) {
    if (session.Options.ClipSeconds != 0) row.DurationSeconds = session.Options.ClipSeconds;
    series.Matrix.push_back(row);
  }
  if (observer != nullptr) observer->SeriesStarted(series);

  std::optional<ClipScenario> failed;
  bool headerAppended = false;
  std::vector<ClipResult> results;
  bool finished = false;
  try {
    for (std::size_t i = 0; i < series.Matrix.size(); ++i) {
      const ClipScenario& row = series.Matrix[i];
      series.Clips.push_back(ClipRecord{});
      series.Clips.back().Scenario = row;
      if (!SkipAfterFailure(failed, row)) {
        failed.reset();
        if (observer != nullptr) observer->ClipStarted(series, i);
        RunClip(session, profile, host, row, headerAppended, results, failed, series,
                series.Clips.back(), observer);
      }
      if (observer != nullptr) observer->ClipEnded(series);
    }
    finished = true;
  } catch (const hresult_error& error) {
    // The clip that failed leaves no result; those before it are still reported.
    RecordError(series, error.code(), error.message());
  } catch (const std::exception& error) {
    RecordError(series, E_FAIL, Utf8ToWide(error.what()));
  } catch (...) {
    RecordError(series, E_UNEXPECTED, L"Unexpected error.");
  }
  series.Finished = finished;
  if (!finished && observer != nullptr) observer->ClipEnded(series);
  AppendResultsTable(session, results);
  if (observer != nullptr) observer->SeriesEnded(series);
}

}  // namespace corvantis
