// Encoding speed of the runtime with the program's encoder settings, from prepared BGRA surfaces:
// "Throughput" keeps the input queue busy and counts frames per second; "Latency" submits one
// frame at a time and measures SubmitInput to output. "Library" is the limit: the same frames
// converted to YUV 4:2:0 beforehand and fed to libavcodec, opened with the runtime's own option
// code, on the calling thread. "Conversion" is the BGRA to YUV 4:2:0 step alone. Throughput's
// "of_library" is its frame rate over Library's of the same codec and size in the same run;
// "cpu_of_library" compares processor time per frame (the library's on every thread, the
// runtime's on every thread but the submitting one).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

#include "amf/api/encoder_properties.h"
#include "amf/api/interfaces.h"
#include "amfrt/av_encoder.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/frame_conversion.h"
#include "amfrt/property_map.h"
#include "amfrt/split_conversion.h"
#include "bench/amfrt/wall_clock.h"
#include "platform/graphics.h"
#include "tests/amfrt/program_properties.h"

namespace corvantis {

namespace {

enum class Codec { Avc, Hevc };

constexpr std::uint32_t kSlots = 8;

amf::AMFFactory* Factory() {
  static amf::AMFFactory* factory = [] {
    amf::AMFFactory* f = nullptr;
    void* library = dlopen(AMFRT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    auto init =
        library ? reinterpret_cast<AMFInit_Fn>(dlsym(library, AMF_INIT_FUNCTION_NAME)) : nullptr;
    if (init == nullptr || init(amf::AMF_FULL_VERSION, &f) != AMF_OK)
      std::fprintf(stderr, "cannot load the runtime\n");
    return f;
  }();
  return factory;
}

EncoderProperties ProgramProperties(Codec codec) {
  return corvantis::ProgramProperties(codec == Codec::Hevc);
}

void Configure(amf::AMFComponent* c, Codec codec) {
  for (const auto& [name, value] : ProgramProperties(codec)) c->SetProperty(name, value);
}

// What the runtime's component makes of the same properties.
amfrt::EncoderSettings RuntimeSettings(Codec codec) {
  const amfrt::Codec runtimeCodec = codec == Codec::Avc ? amfrt::Codec::Avc : amfrt::Codec::Hevc;
  amfrt::PropertyMap properties;
  for (const auto& [name, value] : ProgramProperties(codec)) {
    amf::AMFVariantStruct normalized;
    amf::AMFVariantInit(&normalized);
    if (amfrt::NormalizeEncoderProperty(runtimeCodec, name, value, &normalized) == AMF_OK)
      properties.Set(name, normalized);
    amf::AMFVariantClear(&normalized);
  }
  return amfrt::ReadEncoderSettings(runtimeCodec, properties);
}

// A gradient with a detailed box that moves from slot to slot, roughly what the program draws.
void Paint(std::uint8_t* pixels, std::size_t pitch, std::uint32_t width, std::uint32_t height,
           std::uint32_t slot) {
  const std::uint32_t boxX = (width / 2) * slot / kSlots, boxY = height / 4;
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* row = pixels + static_cast<std::size_t>(y) * pitch;
    for (std::uint32_t x = 0; x < width; ++x) {
      const bool inBox = x >= boxX && x < boxX + width / 4 && y >= boxY && y < boxY + height / 4;
      const std::uint32_t detail = (x * 7 + y * 13 + slot * 31) * 2654435761u >> 24;
      row[4 * x + 0] = static_cast<std::uint8_t>(inBox ? detail : 64 + y * 128 / height);
      row[4 * x + 1] = static_cast<std::uint8_t>(inBox ? 255 - detail : 32 + x * 96 / width);
      row[4 * x + 2] = static_cast<std::uint8_t>(inBox ? detail / 2 : 48);
      row[4 * x + 3] = 255;
    }
  }
}

class Rig {
 public:
  Rig(Codec codec, std::uint32_t width, std::uint32_t height)
      : codec_(codec), width_(width), height_(height) {
    CreateCpuDevice(device_.put(), deviceContext_.put());
    Factory()->CreateContext(&context_);
    context_->InitDX11(device_.get(), amf::AMF_DX11_0);
    Factory()->CreateComponent(context_.GetPtr(),
                               codec == Codec::Avc ? AMFVideoEncoderVCE_AVC : AMFVideoEncoder_HEVC,
                               &encoder_);
    Configure(encoder_.GetPtr(), codec);
    ok_ = encoder_->Init(amf::AMF_SURFACE_BGRA, static_cast<amf::amf_int32>(width),
                         static_cast<amf::amf_int32>(height)) == AMF_OK;
    D3D11_TEXTURE2D_DESC desc;
    desc.Width = width;
    desc.Height = height;
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    for (std::uint32_t i = 0; i < kSlots; ++i) {
      textures_.emplace_back();
      device_->CreateTexture2D(&desc, nullptr, textures_.back().put());
      Paint(textures_.back()->Pixels(), textures_.back()->RowPitch(), width, height, i);
      surfaces_.emplace_back();
      context_->CreateSurfaceFromDX11Native(textures_.back().get(), &surfaces_.back(), nullptr);
    }
  }
  ~Rig() { encoder_->Terminate(); }

  bool ok() const { return ok_; }

  // Submits the next frame; false when the encoder's queue is full.
  bool Submit() {
    amf::AMFSurface* surface = surfaces_[submitted_ % kSlots].GetPtr();
    const amf::amf_int64 header = submitted_ == 0 ? 1 : 0;
    surface->SetProperty(
        codec_ == Codec::Avc ? AMF_VIDEO_ENCODER_INSERT_AUD : AMF_VIDEO_ENCODER_HEVC_INSERT_AUD,
        Int64Value(1));
    if (codec_ == Codec::Avc) {
      surface->SetProperty(AMF_VIDEO_ENCODER_INSERT_SPS, Int64Value(header));
      surface->SetProperty(AMF_VIDEO_ENCODER_INSERT_PPS, Int64Value(header));
    } else {
      surface->SetProperty(AMF_VIDEO_ENCODER_HEVC_INSERT_HEADER, Int64Value(header));
    }
    surface->SetPts(static_cast<amf::amf_pts>(submitted_) * amf::AMF_SECOND / 60);
    surface->SetDuration(amf::AMF_SECOND / 60);
    if (encoder_->SubmitInput(surface) != AMF_OK) return false;
    submitTimes_[submitted_ % kSlots] = std::chrono::steady_clock::now();
    ++submitted_;
    return true;
  }

  // Takes every ready output; adds each one's latency.
  void Collect() {
    for (;;) {
      amf::AMFDataPtr data;
      if (encoder_->QueryOutput(&data) != AMF_OK) return;
      amf::AMFBufferPtr buffer;
      data->QueryInterface(amf::AMFBuffer::IID(), reinterpret_cast<void**>(&buffer));
      bytes_ += buffer->GetSize();
      latencySum_ += std::chrono::steady_clock::now() - submitTimes_[received_ % kSlots];
      ++received_;
    }
  }

  std::uint64_t submitted() const { return submitted_; }
  std::uint64_t received() const { return received_; }
  double MeanLatencyMs() const {
    return received_ ? std::chrono::duration<double, std::milli>(latencySum_).count() /
                           static_cast<double>(received_)
                     : 0;
  }
  double MeanBytes() const {
    return received_ ? static_cast<double>(bytes_) / static_cast<double>(received_) : 0;
  }

 private:
  Codec codec_;
  std::uint32_t width_, height_;
  com_ptr<ID3D11Device> device_;
  com_ptr<ID3D11DeviceContext> deviceContext_;
  amf::AMFContextPtr context_;
  amf::AMFComponentPtr encoder_;
  std::vector<com_ptr<ID3D11Texture2D>> textures_;
  std::vector<amf::AMFSurfacePtr> surfaces_;
  std::chrono::steady_clock::time_point submitTimes_[kSlots];
  std::chrono::steady_clock::duration latencySum_{};
  std::uint64_t submitted_ = 0, received_ = 0, bytes_ = 0;
  bool ok_ = false;
};

// Polls with sleeps: spinning would take a core from the encoder on small machines. Latency
// polls every 100 us to time single frames finely; Throughput, with frames queued behind the one
// encoding, sleeps 1 ms as the program's pump does, so that its polling does not compete with the
// encoder's threads.
constexpr auto kFinePoll = std::chrono::microseconds(100);
constexpr auto kPumpPoll = std::chrono::milliseconds(1);

void WaitFor(Rig& rig, std::uint64_t received, std::chrono::microseconds poll = kFinePoll) {
  while (rig.received() < received) {
    rig.Collect();
    if (rig.received() < received) std::this_thread::sleep_for(poll);
  }
}

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Processor time of the whole process, every thread (the encoders' own included).
double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }
// The same without this thread's: what the runtime's threads spent while this one submitted and
// polled.
double OtherThreadsCpuSeconds() {
  return ProcessCpuSeconds() - CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
}

// What Library measured in this run, by codec and size.
struct LibraryFigures {
  double Fps = 0;
  double CpuMsPerFrame = 0;
};
std::map<std::string, LibraryFigures>& LibraryResults() {
  static std::map<std::string, LibraryFigures> figures;
  return figures;
}

std::string Key(Codec codec, std::uint32_t width, std::uint32_t height) {
  return std::string(codec == Codec::Avc ? "AVC/" : "HEVC/") + std::to_string(width) + "x" +
         std::to_string(height);
}

// Each iteration: kSlots frames submitted, each as soon as a slot is free, so that the queue never
// runs dry; the outputs of the last ones are awaited at the end.
void Throughput(benchmark::State& state, Codec codec, std::uint32_t width, std::uint32_t height) {
  Rig rig(codec, width, height);
  if (!rig.ok()) return state.SkipWithError("Init failed");
  // Untimed: the first frames, where the encoder allocates its pictures and sends the IDR.
  for (std::uint32_t i = 0; i < kSlots; ++i)
    while (!rig.Submit()) WaitFor(rig, rig.received() + 1);
  WaitFor(rig, rig.submitted());
  const std::uint64_t untimed = rig.received();
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = OtherThreadsCpuSeconds();
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < kSlots; ++i) {
      rig.Collect();
      if (rig.submitted() - rig.received() >= kSlots) WaitFor(rig, rig.received() + 1, kPumpPoll);
      while (!rig.Submit()) WaitFor(rig, rig.received() + 1, kPumpPoll);
    }
  }
  WaitFor(rig, rig.submitted());
  const double frames = static_cast<double>(rig.received() - untimed);
  const double fps =
      frames / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuMsPerFrame = (OtherThreadsCpuSeconds() - cpuStart) * 1e3 / frames;
  state.counters["fps"] = fps;
  state.counters["cpu_ms_per_frame"] = cpuMsPerFrame;
  state.counters["bytes_per_frame"] = rig.MeanBytes();
  // On a loaded machine the frame rates say more about the neighbours; processor time per frame
  // still says what the runtime adds.
  if (const auto library = LibraryResults().find(Key(codec, width, height));
      library != LibraryResults().end()) {
    state.counters["of_library"] = fps / library->second.Fps;
    state.counters["cpu_of_library"] = library->second.CpuMsPerFrame / cpuMsPerFrame;
  }
}

class ByteCounter final : public amfrt::PacketSink {
 public:
  AMF_RESULT OnPacket(const amfrt::EncodedPacket& packet) override {
    Bytes += packet.Data.size();
    ++Packets;
    return AMF_OK;
  }
  std::uint64_t Bytes = 0;
  std::uint64_t Packets = 0;
};

// Each iteration: the kSlots pictures, converted beforehand, through libavcodec on this thread.
void Library(benchmark::State& state, Codec codec, std::uint32_t width, std::uint32_t height) {
  std::unique_ptr<amfrt::AvEncoder> encoder;
  if (amfrt::AvEncoder::Open(RuntimeSettings(codec), static_cast<int>(width),
                             static_cast<int>(height), &encoder) != AMF_OK)
    return state.SkipWithError("Open failed");
  std::vector<amfrt::AvFramePtr> pictures;
  std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) * height * 4);
  for (std::uint32_t i = 0; i < kSlots; ++i) {
    Paint(bgra.data(), width * 4, width, height, i);
    AVFrame* picture = av_frame_alloc();
    pictures.emplace_back(picture);
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = static_cast<int>(width);
    picture->height = static_cast<int>(height);
    if (picture == nullptr || av_frame_get_buffer(picture, 0) < 0 ||
        !amfrt::ConvertBgraToI420(bgra.data(), static_cast<int>(width * 4), static_cast<int>(width),
                                  static_cast<int>(height),
                                  {picture->data[0], picture->linesize[0], picture->data[1],
                                   picture->linesize[1], picture->data[2], picture->linesize[2]}))
      return state.SkipWithError("cannot prepare the pictures");
  }
  ByteCounter sink;
  std::int64_t index = 0;
  for (; index < kSlots; ++index)  // untimed, as in Throughput
    if (encoder->EncodePicture(pictures[static_cast<std::size_t>(index)].get(), index, sink) !=
        AMF_OK)
      return state.SkipWithError("encoding");
  const std::int64_t untimed = index;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ProcessCpuSeconds();
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < kSlots; ++i, ++index)
      if (encoder->EncodePicture(pictures[i].get(), index, sink) != AMF_OK)
        return state.SkipWithError("encoding");
  }
  if (encoder->Flush(sink) != AMF_OK) return state.SkipWithError("flush");
  const auto frames = static_cast<double>(index - untimed);
  const double fps =
      frames / std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuMsPerFrame = (ProcessCpuSeconds() - cpuStart) * 1e3 / frames;
  LibraryResults()[Key(codec, width, height)] = {fps, cpuMsPerFrame};
  state.counters["fps"] = fps;
  state.counters["cpu_ms_per_frame"] = cpuMsPerFrame;
  state.counters["bytes_per_frame"] =
      sink.Packets ? static_cast<double>(sink.Bytes) / static_cast<double>(sink.Packets) : 0;
}

// Each iteration: one frame, from SubmitInput to its output.
void Latency(benchmark::State& state, Codec codec, std::uint32_t width, std::uint32_t height) {
  Rig rig(codec, width, height);
  if (!rig.ok()) return state.SkipWithError("Init failed");
  for (auto _ : state) {
    rig.Submit();
    WaitFor(rig, rig.submitted());
  }
  state.counters["latency_ms"] = rig.MeanLatencyMs();
}

// Each iteration: one of the kSlots BGRA pictures converted to YUV 4:2:0 on one thread, or split
// as the runtime converts every frame.
void Conversion(benchmark::State& state, std::uint32_t width, std::uint32_t height, bool split) {
  const std::size_t pitch = std::size_t{width} * 4;
  std::vector<std::vector<std::uint8_t>> pictures(kSlots,
                                                  std::vector<std::uint8_t>(pitch * height));
  for (std::uint32_t i = 0; i < kSlots; ++i) Paint(pictures[i].data(), pitch, width, height, i);
  const int w = static_cast<int>(width), h = static_cast<int>(height), cw = (w + 1) / 2;
  std::vector<std::uint8_t> y(std::size_t{width} * height),
      u(static_cast<std::size_t>(cw) * ((h + 1) / 2)), v(u.size());
  amfrt::SplitConverter converter;
  std::uint32_t next = 0;
  for (auto _ : state) {
    const amfrt::I420Planes planes{y.data(), w, u.data(), cw, v.data(), cw};
    const std::uint8_t* picture = pictures[next++ % kSlots].data();
    if (split ? !converter.Convert(picture, static_cast<int>(pitch), w, h, planes)
              : !amfrt::ConvertBgraToI420(picture, static_cast<int>(pitch), w, h, planes))
      return state.SkipWithError("conversion refused");
    benchmark::DoNotOptimize(y.data());
  }
}

const int registered = [] {
  const std::pair<std::uint32_t, std::uint32_t> sizes[] = {
      {640, 360}, {1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
  for (const auto& [w, h] : sizes)
    for (const bool split : {false, true})
      WallClock("Conversion/" + SizeName(w, h) + (split ? "/split" : "/one_thread"),
                benchmark::kMillisecond, Conversion, w, h, split);
  for (Codec codec : {Codec::Avc, Codec::Hevc}) {
    const std::string label = codec == Codec::Avc ? "AVC/" : "HEVC/";
    for (const auto& [w, h] : sizes) {
      // Library first: Throughput divides by its rate.
      WallClock("Library/" + label + SizeName(w, h), benchmark::kMillisecond, Library, codec, w, h)
          ->MinTime(2.0);
      WallClock("Throughput/" + label + SizeName(w, h), benchmark::kMillisecond, Throughput, codec,
                w, h)
          ->MinTime(2.0);
      WallClock("Latency/" + label + SizeName(w, h), benchmark::kMillisecond, Latency, codec, w, h)
          ->MinTime(1.0);
    }
  }
  return 0;
}();

}  // namespace

}  // namespace corvantis
