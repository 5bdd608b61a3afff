// The hardware path end to end: the runtime's VA-API encoder through libavcodec and the real libva,
// on the tests' driver answering as each driver it knows, with and without a video processor.
#include <gtest/gtest.h>
#include <va/va.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <thread>
#include <tuple>

#include "platform/graphics.h"
#include "tests/amfrt/colour_reference.h"
#include "tests/amfrt/runtime_support.h"
#include "tests/vaapi_driver/stream_check.h"
#include "tests/vaapi_driver/test_driver.h"

namespace corvantis {

namespace {

using vadriver::Buffer;
using vadriver::Control;
using vadriver::Picture;

// Frame k: eight saturated bars over the upper half, a grey of the frame's own level below, so
// that each frame's pixels tell it apart.
Rgb ColourAt(int x, int y, int width, int height, std::uint32_t k) {
  static constexpr Rgb kBars[] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                  {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {240, 230, 140}};
  if (y < height / 2) return kBars[x * 8 / width];
  const int grey = GreyOf(k);
  return {grey, grey, grey};
}

void Paint(ID3D11Texture2D* texture, std::uint32_t k) {
  D3D11_TEXTURE2D_DESC desc;
  texture->GetDesc(&desc);
  const int width = static_cast<int>(desc.Width), height = static_cast<int>(desc.Height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = texture->Pixels() + static_cast<std::size_t>(y) * texture->RowPitch();
    for (int x = 0; x < width; ++x) PutBgra(row + 4 * x, ColourAt(x, y, width, height, k));
  }
}

constexpr double kLumaTolerance = 6.0;
constexpr double kChromaTolerance = 8.0;

// The first sample of the picture's NV12 (width x height luma, then the UV rows) that is not the
// conversion of frame k, or empty.
std::string FirstWrongSample(const std::vector<std::uint8_t>& nv12, int width, int height,
                             std::uint32_t k, Matrix m) {
  const int chromaWidth = (width + 1) / 2;
  if (nv12.size() !=
      static_cast<std::size_t>(width) * height + 2u * chromaWidth * ((height + 1) / 2))
    return "an NV12 picture of " + std::to_string(nv12.size()) + " bytes";
  std::ostringstream why;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const double want = LimitedYuv(ColourAt(x, y, width, height, k), m).Y;
      const int got = nv12[static_cast<std::size_t>(y) * width + x];
      if (std::abs(got - want) > kLumaTolerance) {
        why << "luma at (" << x << "," << y << ") is " << got << ", want " << want;
        return why.str();
      }
    }
  const std::uint8_t* uv = nv12.data() + static_cast<std::size_t>(width) * height;
  for (int y = 0; y < (height + 1) / 2; ++y)
    for (int x = 0; x < chromaWidth; ++x) {
      double cb = 0, cr = 0;
      int n = 0;
      for (int dy = 0; dy < 2 && 2 * y + dy < height; ++dy)
        for (int dx = 0; dx < 2 && 2 * x + dx < width; ++dx, ++n) {
          const Rgb c = ColourAt(2 * x + dx, 2 * y + dy, width, height, k);
          const Yuv yuv = LimitedYuv(c, m);
          cb += yuv.U;
          cr += yuv.V;
        }
      const std::uint8_t* sample = uv + static_cast<std::size_t>(y) * 2 * chromaWidth + 2 * x;
      if (std::abs(sample[0] - cb / n) > kChromaTolerance ||
          std::abs(sample[1] - cr / n) > kChromaTolerance) {
        why << "chroma at (" << x << "," << y << ") is " << int(sample[0]) << "," << int(sample[1])
            << ", want " << cb / n << "," << cr / n;
        return why.str();
      }
    }
  return {};
}

// The misc parameter of that type among the picture's buffers, as its VA structure.
template <class T>
std::optional<T> Misc(const Picture& picture, VAEncMiscParameterType type) {
  for (const Buffer& b : picture.buffers) {
    if (b.type != VAEncMiscParameterBufferType || b.bytes.size() < sizeof(VAEncMiscParameterBuffer))
      continue;
    if (b.As<VAEncMiscParameterBuffer>().type != type) continue;
    T value{};
    std::memcpy(&value, b.bytes.data() + sizeof(VAEncMiscParameterBuffer),
                std::min(sizeof value, b.bytes.size() - sizeof(VAEncMiscParameterBuffer)));
    return value;
  }
  return std::nullopt;
}

const Buffer* FindBuffer(const Picture& picture, VABufferType type) {
  for (const Buffer& b : picture.buffers)
    if (b.type == type) return &b;
  return nullptr;
}

int Align(int v, int block) { return (v + block - 1) / block * block; }

using PathCase = std::tuple<TestCodec, std::pair<int, int>, const char*>;

// What the runtime is to do on each personality.
struct Expected {
  Matrix Colour;     // of the NV12 the encoder is handed
  bool Processor;    // the video processor converts
  bool LowPower;     // VAEntrypointEncSliceLP
  bool SyncBuffer;   // the driver has vaSyncBuffer
  int HevcBlock;     // the smallest coding block hevc_vaapi aligns the surfaces to
  int StreamMatrix;  // colour description in the stream (2: none)
};

Expected ExpectedOn(const std::string& personality) {
  // Mesa's processor converts with BT.709 whatever is asked (postproc.c vlVaPostProcBlit); VCN's
  // SPS has no colour description; iHD follows the pipeline and writes libavcodec's headers.
  if (personality == "radeonsi") return {kBt709, true, false, true, 8, 2};
  if (personality == "polaris") return {kBt709, true, false, false, 16, 2};
  if (personality == "intel-gen12") return {kBt601, true, true, true, 16, 6};
  return {kBt601, false, false, true, 8, 2};  // no-vpp-real: radeonsi without the processor
}

class VaapiPath : public ::testing::TestWithParam<PathCase> {};

// The program's settings reach the driver, the pictures it is handed are the frames converted
// with the matrix the driver's processor really applies (or the CPU's), in their order, the
// outputs are access units as the program frames them and read as FFmpeg reads them, and nothing
// the clip made outlives it. Faults caught: a colour from the wrong matrix, a POC length past 16
// bits, parameter sets out of decoding order, a level for the displayed size, the CPU path's
// pixels lost where the driver refuses to derive images.
TEST_P(VaapiPath, EncodesTheProgramsFramesAsConfigured) {
  const auto [codec, size, personality] = GetParam();
  const auto [width, height] = size;
  const bool hevc = codec == TestCodec::Hevc;
  const Expected expected = ExpectedOn(personality);
  // radeonsi's NV12 surfaces are interlaced and not derived (image.c vlVaDeriveImage): the CPU's
  // pictures are put into them.
  const bool putImage = std::string(personality) == "no-vpp-real";
  TestVaDriver driver(personality);
  constexpr std::uint32_t kFrames = 5;
  std::vector<Output> outputs;
  std::vector<VASurfaceID> slots;
  const auto pixelWrites = [&] {
    return driver.With([](Control& c) { return c.calls["vaDeriveImage"] + c.calls["vaPutImage"]; });
  };
  int pixelWritesInClip = 0;
  {
    EncoderRig rig(EncoderConfig{codec, width, height, true, -1, 0, driver.Node()});
    ASSERT_EQ(rig.InitResult, AMF_OK);
    pixelWritesInClip = -pixelWrites();
    outputs = EncodeFrames(rig, kFrames, 3, Paint, &slots);
    pixelWritesInClip += pixelWrites();
  }
  EXPECT_EQ(driver.Live(), vadriver::LiveObjects{}) << "objects of the clip outlived it";

  // N frames in, N access units out: each with a delimiter first, parameter sets in the first
  // only, one IDR picture, the first.
  ASSERT_EQ(outputs.size(), kFrames);
  const int delimiter = hevc ? 35 : 9;
  const std::vector<int> parameterSets =
      hevc ? std::vector<int>{32, 33, 34} : std::vector<int>{7, 8};
  int idrPictures = 0;
  for (std::uint32_t k = 0; k < kFrames; ++k) {
    const std::vector<int> types = NalTypes(outputs[k].Bytes, codec);
    ASSERT_FALSE(types.empty()) << k;
    EXPECT_EQ(types[0], delimiter) << k;
    for (int set : parameterSets)
      EXPECT_EQ(std::count(types.begin(), types.end(), set), k == 0 ? 1 : 0)
          << "type " << set << " in " << k;
    const bool idr = std::any_of(types.begin(), types.end(),
                                 [&](int t) { return hevc ? t == 19 || t == 20 : t == 5; });
    idrPictures += idr;
    EXPECT_EQ(idr, k == 0) << k;
    EXPECT_EQ(outputs[k].DataType, k == 0 ? 0 : 2) << "IDR first, P after";
    EXPECT_EQ(outputs[k].Pts, PtsOf(k));
  }
  EXPECT_EQ(idrPictures, 1);

  // The stream as FFmpeg reads it, the driver's own headers included.
  std::vector<std::uint8_t> stream;
  for (const Output& o : outputs) stream.insert(stream.end(), o.Bytes.begin(), o.Bytes.end());
  const streamcheck::Report read =
      streamcheck::CheckStream(stream, hevc ? streamcheck::Codec::Hevc : streamcheck::Codec::Avc);
  const bool large = width >= 1920;
  EXPECT_TRUE(read.ParameterSetsRead) << read.Error;
  EXPECT_TRUE(read.DecodingOrder) << "VPS, SPS, PPS";
  EXPECT_TRUE(read.LengthsLegal) << "POC lsb " << read.Log2MaxPocLsb << " bits, frame_num "
                                 << read.Log2MaxFrameNum << " bits";
  EXPECT_EQ(read.IdrPictures, 1);
  EXPECT_EQ(std::pair(read.Width, read.Height), std::pair(width, height));
  EXPECT_EQ(std::pair(read.Profile, read.Level),
            hevc ? std::pair(1, large ? 123 : 90) : std::pair(100, large ? 42 : 31));
  if (read.Rate > 0) {
    EXPECT_EQ(read.Rate, 60.0);
  }
  EXPECT_EQ(read.Matrix, expected.StreamMatrix) << "the colour description";

  driver.With([&, width = width, height = height](Control& c) {
    // libavcodec asks once whether the driver has vaSyncBuffer; nothing else is missing.
    EXPECT_EQ(c.record.unimplemented, expected.SyncBuffer
                                          ? std::vector<std::string>{}
                                          : std::vector<std::string>{"vaSyncBuffer"});
    // The encoder's configuration: the program's profile, the low-power entry point for low
    // latency where there is one, VBR.
    const VAProfile profile = hevc ? VAProfileHEVCMain : VAProfileH264High;
    const auto config =
        std::find_if(c.record.configs.begin(), c.record.configs.end(),
                     [&](const vadriver::Config& k) { return k.profile == profile; });
    ASSERT_NE(config, c.record.configs.end());
    EXPECT_EQ(config->entrypoint,
              expected.LowPower ? VAEntrypointEncSliceLP : VAEntrypointEncSlice);
    const auto rc =
        std::find_if(config->attributes.begin(), config->attributes.end(),
                     [](const VAConfigAttrib& a) { return a.type == VAConfigAttribRateControl; });
    ASSERT_NE(rc, config->attributes.end());
    EXPECT_EQ(rc->value, static_cast<std::uint32_t>(VA_RC_VBR));

    ASSERT_EQ(c.record.pictures.size(), kFrames);
    for (std::uint32_t k = 0; k < kFrames; ++k) {
      const Picture& p = c.record.pictures[k];
      EXPECT_EQ(p.profile, profile);
      EXPECT_EQ(std::pair(p.width, p.height), std::pair(width, height))
          << "input surface of picture " << k;
      EXPECT_EQ(std::pair(p.contextWidth, p.contextHeight),
                std::pair(Align(width, hevc ? expected.HevcBlock : 16),
                          Align(height, hevc ? expected.HevcBlock : 16)));
      EXPECT_EQ(FirstWrongSample(p.nv12, width, height, k, expected.Colour), "") << "picture " << k;
      for (const Buffer& b : p.buffers) {
        if (b.type != VAEncSliceParameterBufferType) continue;
        EXPECT_NE(hevc ? b.As<VAEncSliceParameterBufferHEVC>().slice_type
                       : b.As<VAEncSliceParameterBufferH264>().slice_type % 5,
                  hevc ? 0 : 1)
            << "a B slice in picture " << k;
      }
      // Sequence and rate-control parameters come with the IDR picture.
      EXPECT_EQ(FindBuffer(p, VAEncSequenceParameterBufferType) != nullptr, k == 0) << k;
    }

    const Picture& first = c.record.pictures[0];
    const Buffer* sequence = FindBuffer(first, VAEncSequenceParameterBufferType);
    ASSERT_NE(sequence, nullptr);
    // The POC length Mesa derives from it stays within 16 bits (see vaapi_options.h).
    constexpr std::uint32_t kOnlyFirstIdr = 1u << 15;
    if (hevc) {
      const auto s = sequence->As<VAEncSequenceParameterBufferHEVC>();
      EXPECT_EQ(s.general_profile_idc, 1);
      EXPECT_EQ(s.general_level_idc, large ? 123 : 90) << "level 4.1 / 3 (1920x1088, 640x368)";
      EXPECT_EQ(s.general_tier_flag, 0);
      EXPECT_EQ(s.intra_period, kOnlyFirstIdr);
      EXPECT_EQ(s.intra_idr_period, kOnlyFirstIdr);
      EXPECT_EQ(s.ip_period, 1u);
      EXPECT_EQ(s.bits_per_second, 625000u);
    } else {
      const auto s = sequence->As<VAEncSequenceParameterBufferH264>();
      EXPECT_EQ(s.level_idc, large ? 42 : 31);
      EXPECT_EQ(s.intra_period, kOnlyFirstIdr);
      EXPECT_EQ(s.intra_idr_period, kOnlyFirstIdr);
      EXPECT_EQ(s.ip_period, 1u);
      EXPECT_EQ(s.bits_per_second, 625000u);
      EXPECT_EQ(s.picture_width_in_mbs * 16 - 2 * s.frame_crop_right_offset,
                static_cast<unsigned>(width));
      EXPECT_EQ(s.picture_height_in_mbs * 16 - 2 * s.frame_crop_bottom_offset,
                static_cast<unsigned>(height));
    }
    const auto rate = Misc<VAEncMiscParameterRateControl>(first, VAEncMiscParameterTypeRateControl);
    ASSERT_TRUE(rate.has_value());
    EXPECT_EQ(rate->bits_per_second, 625000u) << "the peak";
    EXPECT_EQ(rate->target_percentage, 80u) << "the target, 500000";
    const auto hrd = Misc<VAEncMiscParameterHRD>(first, VAEncMiscParameterTypeHRD);
    ASSERT_TRUE(hrd.has_value());
    EXPECT_EQ(hrd->buffer_size, 625000u) << "VBV of one second at the peak";
    const auto frameRate =
        Misc<VAEncMiscParameterFrameRate>(first, VAEncMiscParameterTypeFrameRate);
    ASSERT_TRUE(frameRate.has_value());
    EXPECT_EQ(frameRate->framerate, 60u | 1u << 16);

    // With a processor the slots are BGRA surfaces of the device's display, which it reads as
    // they are: picture k from slot k mod 3 (after the test picture), and the only pixels written
    // into any surface are the copies into the slots, before each submission. Without one they
    // stay in CPU memory.
    ASSERT_EQ(slots.size(), 3u);
    for (VASurfaceID slot : slots) EXPECT_EQ(slot != VA_INVALID_SURFACE, expected.Processor);
    if (expected.Processor) {
      EXPECT_EQ(pixelWritesInClip, static_cast<int>(kFrames));
    }
    for (std::uint32_t k = 0; expected.Processor && k + 1 < c.record.processed.size(); ++k)
      EXPECT_EQ(c.record.processed[k + 1].pipeline.surface, slots[k % 3]) << "picture " << k;

    // The video processor was asked for BT.601 limited range from full-range RGB and got the
    // frames as they were drawn, after the test picture that tells its matrix; without one the
    // driver converted nothing.
    EXPECT_EQ(c.record.processed.size(), expected.Processor ? kFrames + 1 : 0);
    // One put for each mapping: each picture's own, and at most one more for the next picture
    // mapped for a conversion ahead, which the scheduler may leave unstarted until it is
    // withdrawn and mapped again.
    EXPECT_GE(c.calls["vaPutImage"], putImage ? static_cast<int>(kFrames) : 0);
    EXPECT_LE(c.calls["vaPutImage"], putImage ? 2 * static_cast<int>(kFrames) : 0);
    for (std::uint32_t k = 0; expected.Processor && k + 1 < c.record.processed.size(); ++k) {
      const vadriver::Processed& p = c.record.processed[k + 1];
      EXPECT_EQ(p.pipeline.output_color_standard, VAProcColorStandardBT601);
      EXPECT_EQ(p.pipeline.output_color_properties.color_range, VA_SOURCE_RANGE_REDUCED);
      EXPECT_EQ(p.pipeline.input_color_properties.color_range, VA_SOURCE_RANGE_FULL);
      EXPECT_EQ(p.inputFourcc, static_cast<std::uint32_t>(VA_FOURCC_BGRA));
      const Rgb corner = ColourAt(width - 1, height - 1, width, height, k);
      ASSERT_EQ(p.input.size(), 4u * width * height);
      EXPECT_EQ(p.input[p.input.size() - 2], corner.R)
          << "frame " << k << " reached the processor in its place";
    }
  });
}

std::string PathName(const ::testing::TestParamInfo<PathCase>& info) {
  const auto& [codec, size, personality] = info.param;
  std::string name = std::string(codec == TestCodec::Avc ? "Avc" : "Hevc") + "_" +
                     std::to_string(size.first) + "x" + std::to_string(size.second) + "_" +
                     personality;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(EveryDriver, VaapiPath,
                         ::testing::Combine(::testing::Values(TestCodec::Avc, TestCodec::Hevc),
                                            ::testing::Values(std::pair{640, 360}),
                                            ::testing::Values("radeonsi", "polaris", "intel-gen12",
                                                              "no-vpp-real")),
                         PathName);

INSTANTIATE_TEST_SUITE_P(LargeWithAndWithoutProcessor, VaapiPath,
                         ::testing::Combine(::testing::Values(TestCodec::Avc, TestCodec::Hevc),
                                            ::testing::Values(std::pair{1920, 1080}),
                                            ::testing::Values("radeonsi", "no-vpp-real")),
                         PathName);

// Fault: the level of the displayed size. VCN codes 640x360 as 640x368, and at 144 fps that passes
// level 3.1's luma sample rate: the stream must say level 4.
TEST(VaapiLevel, IsTheCodedSizesAt640x360And144Fps) {
  TestVaDriver driver("radeonsi");
  EncoderConfig config{TestCodec::Hevc, 640, 360, true, -1, 0, driver.Node()};
  config.FrameRate = 144;
  EncoderRig rig(config);
  ASSERT_EQ(rig.InitResult, AMF_OK);
  std::vector<std::uint8_t> stream;
  for (const Output& o : EncodeFrames(rig, 2, 2, Paint))
    stream.insert(stream.end(), o.Bytes.begin(), o.Bytes.end());
  const streamcheck::Report read = streamcheck::CheckStream(stream, streamcheck::Codec::Hevc);
  EXPECT_EQ(std::pair(read.CodedWidth, read.CodedHeight), std::pair(640, 368));
  EXPECT_EQ(read.Level, 120);
}

// A hardware device keeps a slot texture's pixels in a BGRA surface of its display alone: a copy
// writes the frame into it through the surface's own memory or, where the driver refuses to derive
// it, an image put into it; the staging copy reads back the frame either way. The surfaces go with
// their textures, the display with the device and the last texture.
TEST(VaapiDevice, SlotTexturesAreSurfacesThatCopiesWriteAndReadBack) {
  for (const bool derives : {true, false}) {
    SCOPED_TRACE(derives ? "derived" : "put and got");
    TestVaDriver driver("radeonsi");
    if (!derives)
      driver.With([](Control& c) {
        for (int call = 1; call <= 4; ++call) c.faults.entries.push_back({"vaDeriveImage", call});
      });
    constexpr int kWidth = 90, kHeight = 50;
    com_ptr<ID3D11Device> device;
    com_ptr<ID3D11DeviceContext> context;
    ASSERT_EQ(CreateCpuDevice(device.put(), context.put(), driver.Node()), S_OK);
    D3D11_TEXTURE2D_DESC desc;
    desc.Width = kWidth;
    desc.Height = kHeight;
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    com_ptr<ID3D11Texture2D> slot, frame, staging;
    ASSERT_EQ(device->CreateTexture2D(&desc, nullptr, slot.put()), S_OK);
    desc.BindFlags = D3D11_BIND_RENDER_TARGET;
    ASSERT_EQ(device->CreateTexture2D(&desc, nullptr, frame.put()), S_OK);
    desc.BindFlags = 0;
    desc.Usage = D3D11_USAGE_STAGING;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    ASSERT_EQ(device->CreateTexture2D(&desc, nullptr, staging.put()), S_OK);
    EXPECT_NE(slot->VideoSurface(), VA_INVALID_SURFACE);
    EXPECT_EQ(slot->Pixels(), nullptr);
    EXPECT_EQ(frame->VideoSurface(), VA_INVALID_SURFACE);
    EXPECT_EQ(driver.Live().surfaces, 1) << "one surface, no CPU copy of the slot beside it";

    Paint(frame.get(), 7);
    context->CopyResource(slot.get(), frame.get());
    context->CopyResource(staging.get(), slot.get());
    D3D11_MAPPED_SUBRESOURCE mapped;
    ASSERT_EQ(context->Map(staging.get(), 0, D3D11_MAP_READ, 0, &mapped), S_OK);
    for (int y = 0; y < kHeight; ++y)
      ASSERT_EQ(std::memcmp(static_cast<const std::uint8_t*>(mapped.pData) + y * mapped.RowPitch,
                            frame->Pixels() + y * frame->RowPitch(), 4 * kWidth),
                0)
          << "row " << y;
    context->Unmap(staging.get(), 0);
    driver.With([&](Control& c) {
      EXPECT_EQ(c.calls["vaPutImage"], derives ? 0 : 1);
      EXPECT_EQ(c.calls["vaGetImage"], derives ? 0 : 1);
    });

    slot.reset();
    EXPECT_EQ(driver.Live().surfaces, 0);
    device.reset();
    context.reset();
    EXPECT_EQ(driver.Live(), vadriver::LiveObjects{});
  }
}

// A driver without an encoder for the codec: Init fails with AMF_NOT_SUPPORTED and one stderr line,
// nothing is encoded on the CPU and nothing the attempt made stays alive.
TEST(VaapiFailures, NoEncoderForTheCodecFailsInitWithOneLineAndNothingOnTheCpu) {
  struct Case {
    const char* Personality;
    TestCodec Codec;
    const char* Why;
  };
  for (const Case& c : {Case{"no-encoder", TestCodec::Avc, "has no encoder for VAProfileH264High"},
                        Case{"no-encoder", TestCodec::Hevc, "has no encoder for VAProfileHEVCMain"},
                        Case{"no-hevc", TestCodec::Hevc, "has no encoder for VAProfileHEVCMain"}}) {
    SCOPED_TRACE(c.Personality);
    TestVaDriver driver(c.Personality);
    {
      EncoderRig rig(EncoderConfig{c.Codec, 320, 180, true, -1, 0, driver.Node()}, /*init=*/false);
      ASSERT_TRUE(rig.Encoder);
      StderrCapture capture;
      EXPECT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_NOT_SUPPORTED);
      const std::string errors = capture.Stop();
      ASSERT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
      for (const char* part : {driver.Node().c_str(), "VA driver \"Mesa Gallium driver 22.3.6",
                               c.Why, "AMF_NOT_SUPPORTED"})
        EXPECT_NE(errors.find(part), std::string::npos) << part << " in " << errors;
      const auto texture = rig.NewTexture();
      amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
      EXPECT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_NOT_INITIALIZED);
    }
    EXPECT_EQ(driver.Live(), vadriver::LiveObjects{});
    EXPECT_TRUE(driver.With([](Control& k) { return k.record.pictures.empty(); }));
  }
}

// Submits up to `frames` frames as the program does and collects outputs until the encoder gives
// a failure, which is returned; AMF_EOF when every frame came out.
AMF_RESULT EncodeUntilFailure(EncoderRig& rig, std::uint32_t frames, std::vector<Output>* outputs) {
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  std::uint32_t k = 0;
  bool draining = false;
  for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       std::chrono::steady_clock::now() < deadline;) {
    if (k < frames && k == outputs->size()) {
      Paint(texture.get(), k);
      StampFrame(surface.GetPtr(), rig.Config.Codec, k);
      const AMF_RESULT r = rig.Encoder->SubmitInput(surface.GetPtr());
      if (r != AMF_OK && r != AMF_INPUT_FULL) return r;
      k += r == AMF_OK;
    } else if (k == frames && !draining) {
      if (const AMF_RESULT r = rig.Encoder->Drain(); r != AMF_OK) return r;
      draining = true;
    }
    amf::AMFDataPtr data;
    const AMF_RESULT r = rig.Encoder->QueryOutput(&data);
    if (r == AMF_OK)
      outputs->push_back(TakeOutput(data.GetPtr(), rig.Config.Codec));
    else if (r == AMF_REPEAT)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    else
      return r;
  }
  ADD_FAILURE() << "neither a failure nor the end in time";
  return AMF_OK;
}

// A driver that fails in the middle of a clip: the clip ends with an error from the encoder, never
// with a picture read past its coded buffer (the sanitizer build checks every read), one stderr
// line names the VA call and its status, and the objects of the failed clip are all released.
TEST(VaapiFailures, DriverFaultsMidClipEndTheClipWithAnErrorAndFreeEverything) {
  struct Case {
    const char* Name;
    vadriver::FaultPlan Plan;
    const char* Reason;
  };
  const Case cases[] = {
      {"coded buffer claiming more than it holds",
       {{}, vadriver::CodedBufferFault::ClaimsMore, 2},
       ""},
      {"empty coded buffer", {{}, vadriver::CodedBufferFault::Empty, 2}, "vaMapBuffer: "},
      {"vaSyncSurface failing",
       {{{"vaSyncSurface", 6}}, vadriver::CodedBufferFault::None, 0},
       "vaSyncSurface: operation failed"},
      {"vaEndPicture failing",
       {{{"vaEndPicture", 4}}, vadriver::CodedBufferFault::None, 0},
       "vaEndPicture: operation failed"},
  };
  for (TestCodec codec : {TestCodec::Avc, TestCodec::Hevc})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (codec == TestCodec::Avc ? " (AVC)" : " (HEVC)"));
      TestVaDriver driver("no-vpp-real");
      driver.With([&](Control& k) { k.faults = c.Plan; });
      std::vector<Output> outputs;
      {
        EncoderRig rig(EncoderConfig{codec, 320, 180, true, -1, 0, driver.Node()});
        ASSERT_EQ(rig.InitResult, AMF_OK);
        StderrCapture capture;
        EXPECT_EQ(EncodeUntilFailure(rig, 8, &outputs), AMF_FAIL);
        const std::string errors = capture.Stop();
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        EXPECT_NE(errors.find("stops encoding on " + driver.Node() + ": " + c.Reason),
                  std::string::npos)
            << errors;
      }
      EXPECT_LT(outputs.size(), 8u);
      for (const Output& o : outputs) {
        const std::vector<int> types = NalTypes(o.Bytes, codec);
        EXPECT_TRUE(std::any_of(types.begin(), types.end(), [&](int t) {
          return codec == TestCodec::Avc ? t == 1 || t == 5 : t < 32;
        })) << "an output without a picture";
      }
      EXPECT_EQ(driver.Live(), vadriver::LiveObjects{});
    }
}

}  // namespace

}  // namespace corvantis
