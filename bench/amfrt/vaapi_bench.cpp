// The processor time per frame of the runtime's VA-API path on the tests' driver, told to return
// at once (no conversion, nothing recorded): a BGRA picture in, on a surface handed to the driver,
// the coded buffer mapped and copied out. With the driver's video processor (radeonsi) and with
// the CPU's NV12 conversion put into the surface ("no-vpp-real"), beside one memcpy of the picture
// and the software path's conversion of it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "amfrt/split_conversion.h"
#include "amfrt/vaapi_encoder.h"
#include "bench/amfrt/wall_clock.h"
#include "platform/graphics.h"
#include "tests/vaapi_driver/test_driver.h"

namespace corvantis {

namespace {

constexpr int kPictures = 3;  // rotated, so that no picture is still in the cache

std::vector<std::vector<std::uint8_t>> Pictures(int width, int height) {
  std::vector<std::vector<std::uint8_t>> pictures(
      kPictures, std::vector<std::uint8_t>(std::size_t{4} * width * height));
  for (int i = 0; i < kPictures; ++i)
    for (std::size_t p = 0; p < pictures[i].size(); ++p)
      pictures[i][p] = static_cast<std::uint8_t>((p * 7 + static_cast<std::size_t>(i) * 31) >> 4);
  return pictures;
}

// The program's AVC settings for a clip at 60 fps.
amfrt::EncoderSettings ProgramSettings() {
  amfrt::EncoderSettings s;
  s.Codec = amfrt::Codec::Avc;
  s.FrameRate = {60, 1};
  s.Profile = 100;
  s.LowLatency = true;
  s.RateControl = amfrt::RateControl::LatencyConstrainedVbr;
  s.TargetBitrate = 500000;
  s.PeakBitrate = 625000;
  s.Preset = amfrt::Preset::Speed;
  return s;
}

struct CopyOut final : amfrt::PacketSink {
  std::vector<std::uint8_t> Bytes;
  AMF_RESULT OnPacket(const amfrt::EncodedPacket& packet) override {
    Bytes.assign(packet.Data.begin(), packet.Data.end());
    return AMF_OK;
  }
};

// Each iteration: one picture through the encoder, the next one queued behind it.
void VaapiPath(benchmark::State& state, int width, int height, const char* personality) {
  TestVaDriver driver(personality);
  com_ptr<ID3D11Device> device;
  com_ptr<ID3D11DeviceContext> context;
  std::unique_ptr<amfrt::FrameEncoder> encoder;
  if (CreateCpuDevice(device.put(), context.put(), driver.Node()) < 0 ||
      amfrt::VaapiEncoder::Open(ProgramSettings(), device.get(), width, height, &encoder) != AMF_OK)
    return state.SkipWithError("Open failed");
  // Only after opening, where the processor's test picture has to come through converted.
  driver.With([](vadriver::Control& c) { c.work = false; });
  const auto pictures = Pictures(width, height);
  CopyOut sink;
  std::int64_t index = 0;
  for (auto _ : state) {
    const amfrt::BgraView picture{pictures[index % kPictures].data(), 4 * width};
    const amfrt::BgraView next{pictures[(index + 1) % kPictures].data(), 4 * width};
    if (encoder->Encode(picture, index, next, sink) != AMF_OK)
      return state.SkipWithError("Encode failed");
    ++index;
  }
  if (encoder->Flush(sink) != AMF_OK) return state.SkipWithError("Flush failed");
  state.counters["coded_bytes"] = static_cast<double>(sink.Bytes.size());
}

void Memcpy(benchmark::State& state, int width, int height) {
  const auto pictures = Pictures(width, height);
  std::vector<std::uint8_t> copy(pictures[0].size());
  int i = 0;
  for (auto _ : state) {
    std::memcpy(copy.data(), pictures[i++ % kPictures].data(), copy.size());
    benchmark::DoNotOptimize(copy.data());
  }
}

// The software path's conversion of a picture it did not convert ahead: I420, in two halves.
void SoftwareConversion(benchmark::State& state, int width, int height) {
  const auto pictures = Pictures(width, height);
  const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  std::vector<std::uint8_t> y(std::size_t{1} * width * height),
      u(std::size_t{1} * chromaWidth * chromaHeight), v(u.size());
  amfrt::SplitConverter converter;
  int i = 0;
  for (auto _ : state) {
    if (!converter.Convert(
            pictures[i++ % kPictures].data(), 4 * width, width, height,
            amfrt::I420Planes{y.data(), width, u.data(), chromaWidth, v.data(), chromaWidth}))
      return state.SkipWithError("conversion refused");
    benchmark::DoNotOptimize(y.data());
  }
}

const int registered = [] {
  for (const auto& [w, h] : {std::pair{1920, 1080}, std::pair{3840, 2160}}) {
    const std::string size = SizeName(w, h);
    const auto configure = [](benchmark::internal::Benchmark* b) {
      b->MeasureProcessCPUTime()->MinTime(1.0);
    };
    configure(WallClock("Memcpy/" + size, benchmark::kMillisecond, Memcpy, w, h));
    configure(WallClock("VaapiPath/processor/" + size, benchmark::kMillisecond, VaapiPath, w, h,
                        "radeonsi"));
    configure(WallClock("VaapiPath/cpu_nv12/" + size, benchmark::kMillisecond, VaapiPath, w, h,
                        "no-vpp-real"));
    configure(
        WallClock("SoftwareConversion/" + size, benchmark::kMillisecond, SoftwareConversion, w, h));
  }
  return 0;
}();

}  // namespace

}  // namespace corvantis
