#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "tests/amfrt/runtime_support.h"

namespace corvantis {

namespace {

constexpr amf::amf_int64 kIdr = 0, kP = 2, kB = 3;

std::string FrameCount(const std::string& path, TestCodec codec) {
  return Probe(path, codec, "-show_entries stream=nb_read_frames").at(0);
}

// Mean of the decoded luma samples of every picture, in display order.
std::vector<double> DecodedMeanLuma(const std::string& path, TestCodec codec, int width,
                                    int height) {
  const std::string raw = DecodedYuv420(path, codec);
  const std::size_t luma = static_cast<std::size_t>(width) * height;
  std::vector<double> means;
  for (std::size_t offset = 0; offset + luma * 3 / 2 <= raw.size(); offset += luma * 3 / 2) {
    double sum = 0;
    for (std::size_t i = 0; i < luma; ++i) sum += static_cast<unsigned char>(raw[offset + i]);
    means.push_back(sum / static_cast<double>(luma));
  }
  return means;
}

bool StartsWithDelimiter(const std::vector<std::uint8_t>& bytes, TestCodec codec) {
  const std::vector<std::uint8_t> prefix = codec == TestCodec::Avc
                                               ? std::vector<std::uint8_t>{0, 0, 0, 1, 9}
                                               : std::vector<std::uint8_t>{0, 0, 0, 1, 70, 1};
  return bytes.size() > prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

class EncoderStream : public ::testing::TestWithParam<TestCodec> {};

TEST_P(EncoderStream, OneOutputPerFrameInOrderFormingADecodableStream) {
  const TestCodec codec = GetParam();
  EncoderRig rig(EncoderConfig{codec});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  amf::AMFDataPtr early;
  EXPECT_EQ(rig.Encoder->QueryOutput(&early), AMF_REPEAT);

  constexpr std::uint32_t kFrames = 30;
  const std::vector<Output> outputs = EncodeGreyFrames(rig, kFrames);
  ASSERT_EQ(outputs.size(), kFrames);
  const std::set<int> parameterSets =
      codec == TestCodec::Avc ? std::set<int>{7, 8} : std::set<int>{32, 33, 34};
  for (std::uint32_t k = 0; k < kFrames; ++k) {
    SCOPED_TRACE("output " + std::to_string(k));
    const Output& o = outputs[k];
    EXPECT_EQ(o.Pts, PtsOf(k));
    EXPECT_EQ(o.Duration, PtsOf(k + 1) - PtsOf(k));
    EXPECT_EQ(o.DataType, k == 0 ? kIdr : kP);
    EXPECT_TRUE(StartsWithDelimiter(o.Bytes, codec));
    const std::vector<int> types = NalTypes(o.Bytes, codec);
    EXPECT_EQ(std::count(types.begin(), types.end(), types[0]), 1) << "one delimiter";
    EXPECT_EQ(std::count_if(types.begin(), types.end(),
                            [&](int t) { return parameterSets.count(t) > 0; }),
              k == 0 ? static_cast<long>(parameterSets.size()) : 0L);
  }
  for (const auto& nal : NalUnits(outputs[0].Bytes)) {
    if (codec == TestCodec::Avc && NalType(nal, codec) == 7) {
      EXPECT_EQ(nal.at(1), 100) << "profile_idc High";
    }
    // profile_tier_level after the two-byte header and one byte of ids: space, tier flag, profile.
    if (codec == TestCodec::Hevc && NalType(nal, codec) == 33) {
      EXPECT_EQ(nal.at(3), 0x01) << "Main tier, Main";
    }
  }

  const StreamFile file(outputs, std::string("grey") + NamesOf(codec).Extension);
  EXPECT_EQ(
      Probe(file.path(), codec,
            "-show_entries stream=codec_name,profile,width,height,nb_read_frames"),
      (std::vector<std::string>{NamesOf(codec).Demuxer, codec == TestCodec::Avc ? "High" : "Main",
                                "320", "180", std::to_string(kFrames)}));
  std::vector<std::string> pictureTypes(kFrames, "P");
  pictureTypes[0] = "I";
  EXPECT_EQ(Probe(file.path(), codec, "-show_entries frame=pict_type"), pictureTypes);
  // Each picture shows its texture as it was when submitted: BT.601 limited-range luma of the grey.
  const std::vector<double> luma = DecodedMeanLuma(file.path(), codec, 320, 180);
  ASSERT_EQ(luma.size(), kFrames);
  for (std::uint32_t k = 0; k < kFrames; ++k)
    EXPECT_NEAR(luma[k], 16 + 219.0 * GreyOf(k) / 255, 3.0) << k;
}

TEST_P(EncoderStream, RefusesInputAtItsDepthAndDeliversEveryAcceptedFrame) {
  const TestCodec codec = GetParam();
  EncoderRig rig(EncoderConfig{codec});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  const auto texture = rig.NewTexture();
  FillGrey(texture.get(), 128);
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  // Never querying: the input depth and the unqueried outputs bound what is accepted.
  std::uint32_t accepted = 0;
  AMF_RESULT r = AMF_OK;
  for (int attempt = 0; attempt < 200 && r == AMF_OK; ++attempt) {
    StampFrame(surface.GetPtr(), codec, accepted, /*aud=*/false);
    r = rig.Encoder->SubmitInput(surface.GetPtr());
    accepted += r == AMF_OK ? 1 : 0;
  }
  EXPECT_EQ(r, AMF_INPUT_FULL);
  EXPECT_GE(accepted, 16u);
  EXPECT_LE(accepted, 16u + 32u);

  ASSERT_EQ(rig.Encoder->Drain(), AMF_OK);
  const std::vector<Output> outputs = CollectUntilEof(rig.Encoder.GetPtr(), codec);
  ASSERT_EQ(outputs.size(), accepted);
  const int delimiter = codec == TestCodec::Avc ? 9 : 35;
  for (std::uint32_t k = 0; k < accepted; ++k) {
    EXPECT_EQ(outputs[k].Pts, PtsOf(k));
    const std::vector<int> types = NalTypes(outputs[k].Bytes, codec);
    EXPECT_EQ(std::count(types.begin(), types.end(), delimiter), 0) << "not asked for";
  }
  amf::AMFDataPtr after;
  EXPECT_EQ(rig.Encoder->QueryOutput(&after), AMF_EOF);
  EXPECT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_EOF);
}

TEST_P(EncoderStream, WithoutLowLatencyOutputsStillMatchFramesOneToOne) {
  const TestCodec codec = GetParam();
  // The balanced preset has lookahead and frame threads, so outputs lag behind the input.
  EncoderRig rig(EncoderConfig{codec, 320, 180, false, codec == TestCodec::Avc ? 0 : 5});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 24, 20);
  ASSERT_EQ(outputs.size(), 24u);
  for (std::uint32_t k = 0; k < 24; ++k) EXPECT_EQ(outputs[k].Pts, PtsOf(k));
  const StreamFile file(outputs, std::string("delayed") + NamesOf(codec).Extension);
  EXPECT_EQ(FrameCount(file.path(), codec), "24");
}

// Frame k: a pattern that moves with k, so that a picture converted from the wrong texture, or
// only partly converted, changes the stream.
void PaintMoving(ID3D11Texture2D* texture, std::uint32_t k) {
  D3D11_TEXTURE2D_DESC desc;
  texture->GetDesc(&desc);
  for (std::uint32_t y = 0; y < desc.Height; ++y) {
    std::uint8_t* row = texture->Pixels() + static_cast<std::size_t>(y) * texture->RowPitch();
    for (std::uint32_t x = 0; x < desc.Width; ++x) {
      row[4 * x] = static_cast<std::uint8_t>((x + 7 * k) ^ y);
      row[4 * x + 1] = static_cast<std::uint8_t>(y + 3 * k);
      row[4 * x + 2] = static_cast<std::uint8_t>(x / 4 + 11 * k);
      row[4 * x + 3] = 255;
    }
  }
}

class QueuedFrames : public ::testing::TestWithParam<std::tuple<TestCodec, int, int>> {};

// Frames waiting in the queue are converted while earlier ones encode; the stream is the one
// the same frames give submitted one at a time.
TEST_P(QueuedFrames, GiveTheStreamOfFramesSubmittedOneAtATime) {
  const auto [codec, width, height] = GetParam();
  constexpr std::uint32_t kFrames = 14;
  EncoderRig oneAtATime(EncoderConfig{codec, width, height});
  EncoderRig queued(EncoderConfig{codec, width, height});
  ASSERT_EQ(oneAtATime.InitResult, AMF_OK);
  ASSERT_EQ(queued.InitResult, AMF_OK);
  const std::vector<Output> expected = EncodeFrames(oneAtATime, kFrames, 1, PaintMoving);
  const std::vector<Output> outputs = EncodeFrames(queued, kFrames, kFrames, PaintMoving);
  ASSERT_EQ(expected.size(), kFrames);
  ASSERT_EQ(outputs.size(), kFrames);
  for (std::uint32_t k = 0; k < kFrames; ++k)
    EXPECT_TRUE(outputs[k].Bytes == expected[k].Bytes) << "frame " << k;
}

INSTANTIATE_TEST_SUITE_P(CodecsAndSizes, QueuedFrames,
                         ::testing::Values(std::tuple{TestCodec::Avc, 320, 180},
                                           std::tuple{TestCodec::Avc, 1280, 720},
                                           std::tuple{TestCodec::Hevc, 320, 180}),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param) == TestCodec::Avc ? "Avc"
                                                                                     : "Hevc") +
                                  std::to_string(std::get<1>(p.param)) + "x" +
                                  std::to_string(std::get<2>(p.param));
                         });

INSTANTIATE_TEST_SUITE_P(Codecs, EncoderStream, ::testing::Values(TestCodec::Avc, TestCodec::Hevc),
                         [](const auto& param) {
                           return param.param == TestCodec::Avc ? "Avc" : "Hevc";
                         });

TEST(AvcEncoder, BPicturesComeInDecodeOrderWithTheirOwnTimesAndDelimiters) {
  EncoderRig rig(EncoderConfig{TestCodec::Avc, 320, 180, true, -1, 2});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 20, 20);
  ASSERT_EQ(outputs.size(), 20u);
  std::set<amf::amf_pts> times;
  for (const Output& o : outputs) {
    times.insert(o.Pts);
    ASSERT_GT(o.Bytes.size(), 5u);
    EXPECT_EQ(o.Bytes[5] >> 5, o.DataType == kB   ? 2
                               : o.DataType == kP ? 1
                                                  : 0)
        << "primary_pic_type";
  }
  EXPECT_EQ(times.size(), 20u);
  EXPECT_EQ(*times.rbegin(), PtsOf(19));
  EXPECT_GT(std::count_if(outputs.begin(), outputs.end(),
                          [](const Output& o) { return o.DataType == kB; }),
            0);
  const StreamFile file(outputs, "bpictures.h264");
  EXPECT_EQ(FrameCount(file.path(), TestCodec::Avc), "20");
}

TEST(AvcEncoder, AnIdrPeriodGivesPeriodicIdrFrames) {
  EncoderRig rig(EncoderConfig{}, /*init=*/false);
  ASSERT_EQ(rig.Encoder->SetProperty(AMF_VIDEO_ENCODER_IDR_PERIOD, Int64Value(10)), AMF_OK);
  ASSERT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 25);
  ASSERT_EQ(outputs.size(), 25u);
  for (std::size_t k = 0; k < outputs.size(); ++k)
    EXPECT_EQ(outputs[k].DataType, k % 10 == 0 ? kIdr : kP) << k;
}

class InitFailure : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(InitFailure, IsAnErrorResultAndAValidInitStillWorksAfterwards) {
  for (TestCodec codec : {TestCodec::Avc, TestCodec::Hevc}) {
    EncoderRig rig(EncoderConfig{codec}, /*init=*/false);
    EXPECT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, GetParam().first, GetParam().second),
              AMF_INVALID_RESOLUTION);
    amf::AMFDataPtr data;
    EXPECT_EQ(rig.Encoder->QueryOutput(&data), AMF_NOT_INITIALIZED);
    EXPECT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
    EXPECT_EQ(EncodeGreyFrames(rig, 2).size(), 2u);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, InitFailure,
                         ::testing::Values(std::pair{0, 0}, std::pair{641, 360},
                                           std::pair{640, 361}, std::pair{-640, 360},
                                           std::pair{8, 8}, std::pair{16384, 16384},
                                           std::pair{1 << 30, 2}));

TEST(EncoderInput, RefusesWhatItCannotEncode) {
  EncoderRig rig(EncoderConfig{}, /*init=*/false);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  EXPECT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_NOT_INITIALIZED);
  EXPECT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_NV12, 640, 360), AMF_SURFACE_FORMAT_NOT_SUPPORTED);
  ASSERT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 640, 360), AMF_OK);
  EXPECT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 640, 360), AMF_ALREADY_INITIALIZED);
  EXPECT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_INVALID_RESOLUTION)
      << "320x180 into 640x360";
  amf::AMFBufferPtr buffer;
  ASSERT_EQ(rig.Context->AllocBuffer(amf::AMF_MEMORY_HOST, 16, &buffer), AMF_OK);
  EXPECT_EQ(rig.Encoder->SubmitInput(buffer.GetPtr()), AMF_INVALID_DATA_TYPE);
}

TEST(EncoderLifetime, ReleaseWithFramesQueuedAndNoTerminateIsClean) {
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  for (std::uint32_t k = 0; k < 10; ++k) {
    StampFrame(surface.GetPtr(), TestCodec::Avc, k);
    ASSERT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  }
  surface.Release();  // the queue holds references of its own
  rig.Encoder.Release();
}

TEST(EncoderLifetime, TerminateOrFlushInAnyStateAndStartAgain) {
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  EXPECT_EQ(rig.Encoder->Terminate(), AMF_OK);
  EXPECT_EQ(rig.Encoder->Terminate(), AMF_OK);
  EXPECT_EQ(rig.Encoder->Drain(), AMF_NOT_INITIALIZED);
  ASSERT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  StampFrame(surface.GetPtr(), TestCodec::Avc, 0);
  ASSERT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  ASSERT_EQ(rig.Encoder->Drain(), AMF_OK);
  EXPECT_EQ(rig.Encoder->Terminate(), AMF_OK) << "before the end of the stream was seen";
  ASSERT_EQ(rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 320, 180), AMF_OK);
  ASSERT_EQ(EncodeGreyFrames(rig, 3).size(), 3u);
  ASSERT_EQ(rig.Encoder->Flush(), AMF_OK);
  const std::vector<Output> outputs = EncodeGreyFrames(rig, 2);
  ASSERT_EQ(outputs.size(), 2u);
  EXPECT_EQ(outputs[0].DataType, kIdr) << "a flushed encoder starts a new stream";
}

TEST(EncoderLifetime, OutputsAndTheEncoderOutliveTheirCreators) {
  amf::AMFBufferPtr kept;
  EncoderRig rig(EncoderConfig{});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  const auto texture = rig.NewTexture();
  amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
  StampFrame(surface.GetPtr(), TestCodec::Avc, 0);
  ASSERT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_OK);
  rig.Context.Release();  // the program may release its context before the encoder
  ASSERT_EQ(rig.Encoder->Drain(), AMF_OK);
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       !kept && std::chrono::steady_clock::now() < deadline;) {
    amf::AMFDataPtr data;
    if (rig.Encoder->QueryOutput(&data) == AMF_OK) {
      ASSERT_EQ(data->QueryInterface(amf::AMFBuffer::IID(), reinterpret_cast<void**>(&kept)),
                AMF_OK);
    }
  }
  ASSERT_TRUE(kept);
  rig.Encoder.Release();
  ASSERT_GT(kept->GetSize(), 4u);
  EXPECT_EQ(static_cast<const std::uint8_t*>(kept->GetNative())[3], 1)
      << "the buffer outlives its pool's owner";
}

}  // namespace

}  // namespace corvantis
