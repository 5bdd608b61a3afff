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

// What a series carries from clip to clip.
struct SeriesRun {
  BenchmarkSession& Session;
  const CodecProfile& Profile;
  SeriesHost& Host;
  SeriesObserver* Observer;
  SeriesRecord Record;
  std::vector<ClipResult> Results;
  std::optional<ClipScenario> Failed;  // until a clip at a rate no higher runs
  bool HeaderAppended = false;
};

// The session's frame canvas at one clip's size, while this lives.
class FrameCanvas {
 public:
  FrameCanvas(BenchmarkSession& session, const ClipScenario& row) : session_(session) {
    CreateFrameCanvas(session, row.Width, row.Height);
  }
  ~FrameCanvas() { ReleaseFrameCanvas(session_); }
  FrameCanvas(const FrameCanvas&) = delete;
  FrameCanvas& operator=(const FrameCanvas&) = delete;

 private:
  BenchmarkSession& session_;
};

// One clip from canvas to verdict. It owns the canvas, the encoder's context and component, the
// surface pool and the encode loop's state, which go in reverse order however the clip ends; its
// record is filled as it goes, so that an error still leaves what was known.
class ClipRun {
 public:
  ClipRun(SeriesRun& series, const ClipScenario& row, ClipRecord& record)
      : series_(series), row_(row), record_(record), canvas_(series.Session, row) {}

  // Raises on any failure.
  void Run() {
    StdOut().WriteLine(FormatWide(L"Video: %u x %u, 32-bit RGB, %.2f frames per second, %u seconds",
                                  row_.Width, row_.Height, row_.FrameRate(), row_.DurationSeconds));
    const amf::amf_uint64 version = OpenEncoder();
    Encode(version);
    Judge();
  }

 private:
  // Loads the runtime and configures the encoder; the series' table header follows the first.
  amf::amf_uint64 OpenEncoder() {
    SeriesHost& host = series_.Host;
    const CodecProfile& profile = series_.Profile;
    CheckAmfResult(host.LoadRuntime());
    const amf::amf_uint64 version = host.RuntimeVersion();
    const std::string versionText = FormatAmfVersion(version);
    series_.Record.RuntimeVersion = versionText;
    if (host.IsDebuggerPresent()) host.EnableAmfDebugTracing();
    amf::AMFFactory* factory = host.RuntimeFactory();
    CheckAmfResult(factory->CreateContext(&context_));
    std::call_once(*profile.VersionReported, [&] { host.ReportAmfVersion(versionText, version); });
    CheckAmfResult(context_->InitDX11(series_.Session.Device.get(), amf::AMF_DX11_0));
    profile.ConfigureEncoder(factory, context_.GetPtr(), encoder_, row_, kTargetBitrate);
    if (series_.Record.EncoderLibrary.empty())
      series_.Record.EncoderLibrary = StringProperty(encoder_.GetPtr(), CORVANTIS_ENCODER_LIBRARY);
    if (!series_.HeaderAppended) {
      AppendSeriesHeader(series_.Session, profile.Label, versionText);
      series_.HeaderAppended = true;
    }
    return version;
  }

  void Encode(amf::amf_uint64 version) {
    BenchmarkSession& session = series_.Session;
    BuildSurfacePool(session.Device.get(), context_.GetPtr(), session.TextureDescription, pool_);
    Clock& clock = series_.Host.GetClock();
    const std::wstring clipPath = BuildClipPath(
        series_.Host.OutputDirectory(), clock.GetLocalTime(), row_, series_.Profile.FileExtension);
    StdOut().WriteLine(L"File: " + clipPath);
    record_.StreamPath = clipPath;
    record_.SnapshotPath = SnapshotPath(clipPath);
    record_.FrameCount = row_.FrameCount();
    {
      ClipHost clipHost(session, version, row_, clipPath, series_.Observer);
      RunEncodeLoop(encoder_.GetPtr(), pool_, row_, series_.Profile.Properties, state_, clipHost,
                    clock);
    }
    record_.Timing = SummariseFrames(state_.Frames, row_, StreamBytes(state_.OutputChunks));
    record_.Frames = std::move(state_.Frames);
    WriteClipStream(clipPath, state_.OutputChunks);
    CheckAmfResult(encoder_->Terminate());
  }

  void Judge() {
    Console& out = StdOut();
    const double average = ClipAverage(state_.EncodeTimeSamples);
    out.WriteLine(FormatWide(L"Average Encoding Time: %.2f ms", average));
    const double elapsed =
        static_cast<double>(series_.Host.GetClock().TimeGetTime() - state_.StartTime) / 1000.0;
    out.WriteLine(FormatWide(L"Elapsed Time: %.1f seconds (%.2f%% to expected)", elapsed,
                             elapsed * 100.0 / static_cast<double>(row_.DurationSeconds)));
    out.EndLine();

    record_.AverageMs = average;
    record_.ElapsedSeconds = elapsed;
    record_.ElapsedRatio = elapsed / static_cast<double>(row_.DurationSeconds);
    std::string outcome;
    if (ClipPassed(elapsed, row_.DurationSeconds)) {
      outcome = FormatNarrow("%.2f", average);
      record_.Verdict = ClipVerdict::Pass;
    } else {
      outcome = "FAIL";
      series_.Failed = row_;
      record_.Verdict = ClipVerdict::Fail;
    }
    series_.Results.push_back(ClipResult{row_, std::move(outcome)});
  }

  SeriesRun& series_;
  const ClipScenario& row_;
  ClipRecord& record_;
  FrameCanvas canvas_;
  amf::AMFContextPtr context_;
  amf::AMFComponentPtr encoder_;
  SurfacePool pool_;
  EncodeLoopState state_;
};

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

  SeriesRun run{session, profile, host, observer, {}, {}, {}, false};
  SeriesRecord& series = run.Record;
  series.Label = profile.Label;
  for (ClipScenario row : matrix) {
    if (session.Options.ClipSeconds != 0) row.DurationSeconds = session.Options.ClipSeconds;
    series.Matrix.push_back(row);
  }
  if (observer != nullptr) observer->SeriesStarted(series);

  bool finished = false;
  try {
    for (std::size_t i = 0; i < series.Matrix.size(); ++i) {
      const ClipScenario& row = series.Matrix[i];
      series.Clips.push_back(ClipRecord{});
      series.Clips.back().Scenario = row;
      if (!SkipAfterFailure(run.Failed, row)) {
        run.Failed.reset();
        if (observer != nullptr) observer->ClipStarted(series, i);
        ClipRun(run, row, series.Clips.back()).Run();
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
  AppendResultsTable(session, run.Results);
  if (observer != nullptr) observer->SeriesEnded(series);
}

}  // namespace corvantis
