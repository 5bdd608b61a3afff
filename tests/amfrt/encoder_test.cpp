#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "tests/amfrt/runtime_support.h"

namespace {

constexpr amf::amf_int64 kIdr = 0, kI = 1, kP = 2, kB = 3;

std::map<std::string, std::string> ProbeStream(const std::string& path, TestCodec codec) {
  const std::string text = RunCommand(
      std::string("ffprobe -v error -f ") + (codec == TestCodec::Avc ? "h264" : "hevc") +
      " -count_frames -select_streams v:0 -show_entries stream=codec_name,profile,width,height,nb_read_frames"
      " -of default=noprint_wrappers=1 '" + path + "'");
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (const auto eq = line.find('='); eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  return fields;
}

std::vector<std::string> DecodedPictureTypes(const std::string& path, TestCodec codec) {
  const std::string text = RunCommand(std::string("ffprobe -v error -f ") +
                                      (codec == TestCodec::Avc ? "h264" : "hevc") +
                                      " -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 '" + path + "'");
  std::vector<std::string> types;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) types.push_back(line.substr(0, 1));
  return types;
}

// Mean of the decoded luma samples of every picture, in display order.
std::vector<double> DecodedMeanLuma(const std::string& path, TestCodec codec, int width, int height) {
  const std::string raw = RunCommand(std::string("ffmpeg -v error -f ") + (codec == TestCodec::Avc ? "h264" : "hevc") +
                                     " -i '" + path + "' -f rawvideo -pix_fmt yuv420p -");
  const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
  const std::size_t pictureSize = lumaSize * 3 / 2;
  std::vector<double> means;
  for (std::size_t offset = 0; offset + pictureSize <= raw.size(); offset += pictureSize) {
    double sum = 0;
    for (std::size_t i = 0; i < lumaSize; ++i) sum += static_cast<unsigned char>(raw[offset + i]);
    means.push_back(sum / static_cast<double>(lumaSize));
  }
  return means;
}

// The luma of a BGRA grey level after the BT.601 limited-range conversion.
double ExpectedLuma(std::uint8_t grey) { return 16.0 + 219.0 * grey / 255.0; }

bool StartsWithDelimiter(const std::vector<std::uint8_t>& bytes, TestCodec codec) {
  const std::vector<std::uint8_t> avc{0, 0, 0, 1, 9};
  const std::vector<std::uint8_t> hevc{0, 0, 0, 1, 35 << 1, 1};
  const auto& prefix = codec == TestCodec::Avc ? avc : hevc;
  return bytes.size() > prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

std::set<int> ParameterSetTypes(TestCodec codec) {
  return codec == TestCodec::Avc ? std::set<int>{7, 8} : std::set<int>{32, 33, 34};
}

class EncoderStream : public ::testing::TestWithParam<TestCodec> {};

TEST_P(EncoderStream, FramesInGiveOneOutputEachInOrderAndADecodableStream) {
  const TestCodec codec = GetParam();
  EncoderConfig config;
  config.codec = codec;
  EncoderRig rig(config);
  ASSERT_EQ(rig.initResult, AMF_OK);
  amf::AMFDataPtr early;
  EXPECT_EQ(rig.encoder->QueryOutput(&early), AMF_REPEAT);

  constexpr std::uint32_t kFrames = 30;
  const std::vector<Output> outputs = EncodeGreyFrames(rig, kFrames);
  ASSERT_EQ(outputs.size(), kFrames);

  for (std::uint32_t k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output " + std::to_string(k));
    const Output& o = outputs[k];
    EXPECT_EQ(o.pts, static_cast<amf::amf_pts>(k) * 10000000 / 60);
    EXPECT_EQ(o.duration, static_cast<amf::amf_pts>(k + 1) * 10000000 / 60 - o.pts);
    EXPECT_EQ(o.dataType, k == 0 ? kIdr : kP);
    EXPECT_TRUE(StartsWithDelimiter(o.bytes, codec));
    const std::vector<int> types = NalTypes(o.bytes, codec);
    const std::set<int> sets = ParameterSetTypes(codec);
    const auto setCount = std::count_if(types.begin(), types.end(), [&](int t) { return sets.count(t) > 0; });
    EXPECT_EQ(setCount, k == 0 ? static_cast<long>(sets.size()) : 0L);
    EXPECT_EQ(std::count(types.begin(), types.end(), types[0]), 1) << "one delimiter only";
  }

  const StreamFile file(outputs, std::string("grey") + NamesOf(codec).extension);
  const std::string& path = file.path();
  const auto probe = ProbeStream(path, codec);
  EXPECT_EQ(probe.at("codec_name"), codec == TestCodec::Avc ? "h264" : "hevc");
  EXPECT_EQ(probe.at("profile"), codec == TestCodec::Avc ? "High" : "Main");
  EXPECT_EQ(probe.at("width"), "320");
  EXPECT_EQ(probe.at("height"), "180");
  EXPECT_EQ(probe.at("nb_read_frames"), std::to_string(kFrames));

  const std::vector<std::string> pictureTypes = DecodedPictureTypes(path, codec);
  ASSERT_EQ(pictureTypes.size(), kFrames);
  EXPECT_EQ(pictureTypes[0], "I");
  EXPECT_EQ(std::count(pictureTypes.begin(), pictureTypes.end(), "P"), kFrames - 1);

  // Each picture shows what was in its texture when it was submitted, in submission order.
  const std::vector<double> luma = DecodedMeanLuma(path, codec, 320, 180);
  ASSERT_EQ(luma.size(), kFrames);
  for (std::uint32_t k = 0; k < kFrames; ++k) EXPECT_NEAR(luma[k], ExpectedLuma(GreyOf(k)), 3.0) << "frame " << k;
}

TEST_P(EncoderStream, ParameterSetsSayTheProfileAndTier) {
  const TestCodec codec = GetParam();
  EncoderConfig config;
  config.codec = codec;
  EncoderRig rig(config);
  ASSERT_EQ(rig.initResult, AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 1);
  ASSERT_EQ(outputs.size(), 1u);
  bool sawSps = false;
  for (const auto& nal : NalUnits(outputs[0].bytes)) {
    if (codec == TestCodec::Avc && NalType(nal, codec) == 7) {
      sawSps = true;
      ASSERT_GT(nal.size(), 2u);
      EXPECT_EQ(nal[1], 100) << "profile_idc High";
    }
    if (codec == TestCodec::Hevc && NalType(nal, codec) == 33) {
      sawSps = true;
      ASSERT_GT(nal.size(), 3u);
      // After the two-byte header and one byte of ids: profile space, tier flag, profile idc.
      EXPECT_EQ((nal[3] >> 5) & 1, 0) << "Main tier";
      EXPECT_EQ(nal[3] & 0x1F, 1) << "Main profile";
    }
  }
  EXPECT_TRUE(sawSps);
}

TEST_P(EncoderStream, FramesWithoutTheDelimiterPropertyGetNone) {
  const TestCodec codec = GetParam();
  EncoderConfig config;
  config.codec = codec;
  EncoderRig rig(config);
  ASSERT_EQ(rig.initResult, AMF_OK);
  const auto texture = rig.NewTexture();
  FillGrey(texture.get(), 90);
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  StampFrame(surface.GetPtr(), codec, 0, 60, 1, /*aud=*/false);
  ASSERT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  ASSERT_EQ(rig.encoder->Drain(), AMF_OK);
  const std::vector<Output> outputs = CollectUntilEof(rig.encoder.GetPtr(), codec);
  ASSERT_EQ(outputs.size(), 1u);
  const std::vector<int> types = NalTypes(outputs[0].bytes, codec);
  EXPECT_EQ(std::count(types.begin(), types.end(), codec == TestCodec::Avc ? 9 : 35), 0);
}

TEST_P(EncoderStream, RefusesInputAtItsDepthAndDeliversEveryAcceptedFrame) {
  const TestCodec codec = GetParam();
  EncoderConfig config;
  config.codec = codec;
  EncoderRig rig(config);
  ASSERT_EQ(rig.initResult, AMF_OK);
  const auto texture = rig.NewTexture();
  FillGrey(texture.get(), 128);
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());

  // Never querying: the queue and the unqueried outputs bound what is accepted.
  std::uint32_t accepted = 0;
  AMF_RESULT r = AMF_OK;
  for (int attempt = 0; attempt < 200 && r == AMF_OK; ++attempt) {
    StampFrame(surface.GetPtr(), codec, accepted, 60, 1);
    r = rig.encoder->SubmitInput(surface.GetPtr());
    if (r == AMF_OK) ++accepted;
  }
  EXPECT_EQ(r, AMF_INPUT_FULL);
  EXPECT_GE(accepted, 16u);
  EXPECT_LE(accepted, 16u + 32u + 1u);

  ASSERT_EQ(rig.encoder->Drain(), AMF_OK);
  const std::vector<Output> outputs = CollectUntilEof(rig.encoder.GetPtr(), codec);
  ASSERT_EQ(outputs.size(), accepted);
  for (std::uint32_t k = 0; k < accepted; ++k) EXPECT_EQ(outputs[k].pts, static_cast<amf::amf_pts>(k) * 10000000 / 60);

  amf::AMFDataPtr after;
  EXPECT_EQ(rig.encoder->QueryOutput(&after), AMF_EOF);
  EXPECT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_EOF);
}

TEST_P(EncoderStream, WithoutLowLatencyOutputsStillMatchFramesOneToOne) {
  const TestCodec codec = GetParam();
  EncoderConfig config;
  config.codec = codec;
  config.lowLatency = false;
  config.qualityPreset = codec == TestCodec::Avc ? 0 : 5;  // balanced: lookahead and frame threads
  EncoderRig rig(config);
  ASSERT_EQ(rig.initResult, AMF_OK);
  constexpr std::uint32_t kFrames = 24;
  const std::vector<Output> outputs = EncodeGreyFrames(rig, kFrames, 20);
  ASSERT_EQ(outputs.size(), kFrames);
  for (std::uint32_t k = 0; k < kFrames; ++k) EXPECT_EQ(outputs[k].pts, static_cast<amf::amf_pts>(k) * 10000000 / 60);
  const StreamFile file(outputs, std::string("delayed") + NamesOf(codec).extension);
  EXPECT_EQ(ProbeStream(file.path(), codec).at("nb_read_frames"), std::to_string(kFrames));
}

INSTANTIATE_TEST_SUITE_P(Codecs, EncoderStream, ::testing::Values(TestCodec::Avc, TestCodec::Hevc),
                         [](const auto& param) { return param.param == TestCodec::Avc ? "Avc" : "Hevc"; });

TEST(AvcEncoder, BPicturesComeInDecodeOrderWithTheirOwnTimes) {
  EncoderConfig config;
  config.bPictures = 2;
  EncoderRig rig(config);
  ASSERT_EQ(rig.initResult, AMF_OK);
  constexpr std::uint32_t kFrames = 20;
  const std::vector<Output> outputs = EncodeGreyFrames(rig, kFrames, 20);
  ASSERT_EQ(outputs.size(), kFrames);
  std::set<amf::amf_pts> times;
  for (const Output& o : outputs) times.insert(o.pts);
  EXPECT_EQ(times.size(), kFrames);
  EXPECT_EQ(*times.rbegin(), static_cast<amf::amf_pts>(kFrames - 1) * 10000000 / 60);
  const auto bCount = std::count_if(outputs.begin(), outputs.end(), [](const Output& o) { return o.dataType == kB; });
  EXPECT_GT(bCount, 0);
  for (const Output& o : outputs) {
    // primary_pic_type: 0 I, 1 P, 2 B.
    const int expected = o.dataType == kB ? 2 : o.dataType == kP ? 1 : 0;
    ASSERT_GT(o.bytes.size(), 5u);
    EXPECT_EQ(o.bytes[5] >> 5, expected);
  }
  const StreamFile file(outputs, "bpictures.h264");
  EXPECT_EQ(ProbeStream(file.path(), TestCodec::Avc).at("nb_read_frames"), std::to_string(kFrames));
}

TEST(AvcEncoder, AnIdrPeriodGivesPeriodicIdrFrames) {
  EncoderConfig config;
  EncoderRig rig(config, /*init=*/false);
  ASSERT_EQ(rig.encoder->SetProperty(AMF_VIDEO_ENCODER_IDR_PERIOD, Int64Value(10)), AMF_OK);
  ASSERT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 25);
  ASSERT_EQ(outputs.size(), 25u);
  for (std::size_t k = 0; k < outputs.size(); ++k) EXPECT_EQ(outputs[k].dataType, k % 10 == 0 ? kIdr : kP) << k;
}

class InitFailure : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(InitFailure, IsAnErrorResultAndAValidInitStillWorksAfterwards) {
  for (TestCodec codec : {TestCodec::Avc, TestCodec::Hevc}) {
    EncoderConfig config;
    config.codec = codec;
    EncoderRig rig(config, /*init=*/false);
    const auto [width, height] = GetParam();
    EXPECT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, width, height), AMF_INVALID_RESOLUTION);
    amf::AMFDataPtr data;
    EXPECT_EQ(rig.encoder->QueryOutput(&data), AMF_NOT_INITIALIZED);
    EXPECT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
    EXPECT_EQ(EncodeGreyFrames(rig, 2).size(), 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, InitFailure,
                         ::testing::Values(std::pair{0, 0}, std::pair{641, 360}, std::pair{640, 361},
                                           std::pair{-640, 360}, std::pair{8, 8}, std::pair{16384, 16384},
                                           std::pair{1 << 30, 2}));

TEST(EncoderInit, RefusesOtherFormatsThanBgraAndASecondInit) {
  EncoderRig rig(EncoderConfig{}, /*init=*/false);
  EXPECT_EQ(rig.encoder->Init(amf::AMF_SURFACE_NV12, 320, 180), AMF_SURFACE_FORMAT_NOT_SUPPORTED);
  EXPECT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  EXPECT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_ALREADY_INITIALIZED);
}

TEST(EncoderInput, RefusesWhatItCannotEncode) {
  EncoderRig rig(EncoderConfig{}, /*init=*/false);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  EXPECT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_NOT_INITIALIZED);
  EXPECT_EQ(rig.encoder->SubmitInput(nullptr), AMF_INVALID_POINTER);
  ASSERT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 640, 360), AMF_OK);
  EXPECT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_INVALID_RESOLUTION) << "320x180 into 640x360";
  amf::AMFBufferPtr buffer;
  ASSERT_EQ(rig.context->AllocBuffer(amf::AMF_MEMORY_HOST, 16, &buffer), AMF_OK);
  EXPECT_EQ(rig.encoder->SubmitInput(buffer.GetPtr()), AMF_INVALID_DATA_TYPE);
}

TEST(EncoderLifetime, ReleaseWithFramesQueuedAndNoTerminateIsClean) {
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.initResult, AMF_OK);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  for (std::uint32_t k = 0; k < 10; ++k) {
    StampFrame(surface.GetPtr(), TestCodec::Avc, k, 60, 1);
    ASSERT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  }
  // The queue holds its own references: the caller's may go first.
  surface.Release();
  rig.encoder.Release();
}

TEST(EncoderLifetime, TerminateInAnyStateAndInitAgain) {
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.initResult, AMF_OK);
  EXPECT_EQ(rig.encoder->Terminate(), AMF_OK);
  EXPECT_EQ(rig.encoder->Terminate(), AMF_OK);
  EXPECT_EQ(rig.encoder->Drain(), AMF_NOT_INITIALIZED);

  ASSERT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  StampFrame(surface.GetPtr(), TestCodec::Avc, 0, 60, 1);
  ASSERT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  ASSERT_EQ(rig.encoder->Drain(), AMF_OK);
  EXPECT_EQ(rig.encoder->Terminate(), AMF_OK);  // before the end of the stream was seen

  ASSERT_EQ(rig.encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 3);
  ASSERT_EQ(outputs.size(), 3u);
  EXPECT_EQ(outputs[0].dataType, kIdr);
}

TEST(EncoderLifetime, OutputsAndTheEncoderOutliveTheirCreators) {
  amf::AMFBufferPtr kept;
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.initResult, AMF_OK);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  StampFrame(surface.GetPtr(), TestCodec::Avc, 0, 60, 1);
  ASSERT_EQ(rig.encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  // The program may release its context before the encoder.
  rig.context.Release();
  ASSERT_EQ(rig.encoder->Drain(), AMF_OK);
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       !kept && std::chrono::steady_clock::now() < deadline;) {
    amf::AMFDataPtr data;
    if (rig.encoder->QueryOutput(&data) == AMF_OK) {
      ASSERT_EQ(data->QueryInterface(amf::AMFBuffer::IID(), reinterpret_cast<void**>(&kept)), AMF_OK);
    }
  }
  ASSERT_TRUE(kept);
  rig.encoder.Release();
  // The pooled buffer stays valid after its encoder is gone.
  ASSERT_GT(kept->GetSize(), 4u);
  EXPECT_EQ(static_cast<const std::uint8_t*>(kept->GetNative())[3], 1);
}

TEST(EncoderLifetime, FlushRestartsTheStreamWithAnIdr) {
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.initResult, AMF_OK);
  ASSERT_EQ(EncodeGreyFrames(rig, 2).size(), 2u);
  ASSERT_EQ(rig.encoder->Flush(), AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 2);
  ASSERT_EQ(outputs.size(), 2u);
  EXPECT_EQ(outputs[0].dataType, kIdr);
}

}  // namespace
