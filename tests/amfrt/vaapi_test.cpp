#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "tests/amfrt/runtime_support.h"
#include "tests/fakes/files.h"
#include "tests/fakes/trace_recorder.h"

namespace corvantis {

namespace {

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class HardwareDevice : public ::testing::TestWithParam<TestCodec> {
 protected:
  const TempDir temp_;
  // A plain file standing in for a render node that has no VA driver.
  const std::string notANode_ = [this] {
    const std::string path = temp_.path() / "renderD128";
    close(open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    return path;
  }();
};

TEST_P(HardwareDevice, WithoutAVaDriverInitFailsAndNothingIsEncodedOnTheCpu) {
  const TestCodec codec = GetParam();
  struct Case {
    std::string Node;
    const char* Step;
  };
  for (const Case& c :
       {Case{"/nonexistent/dri/renderD128", "cannot open"}, Case{notANode_, "vaGetDisplayDRM"}}) {
    SCOPED_TRACE(c.Node);
    EncoderRig rig(EncoderConfig{codec, 640, 360, true, -1, 0, c.Node}, /*init=*/false);
    ASSERT_TRUE(rig.Encoder);
    fakes::TraceRecorder trace(Runtime().Trace, L"vaapi-test");
    StderrCapture capture;
    const AMF_RESULT result = rig.Encoder->Init(amf::AMF_SURFACE_BGRA, 640, 360);
    const std::string errors = capture.Stop();
    EXPECT_EQ(result, AMF_NO_DEVICE);

    // One line on stderr naming the node, its driver, the failed step and the result; the same in
    // the trace.
    ASSERT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    for (const char* part : {c.Node.c_str(), "(kernel driver none)", c.Step, "AMF_NO_DEVICE"})
      EXPECT_NE(errors.find(part), std::string::npos) << part << " in " << errors;
    EXPECT_TRUE(trace.Saw(Wide(errors.substr(0, errors.size() - 1))));

    // No encoder started: no CPU fallback takes the frames.
    const auto texture = rig.NewTexture();
    amf::AMFSurfacePtr surface = rig.NewSurface(texture.get());
    EXPECT_EQ(rig.Encoder->SubmitInput(surface.GetPtr()), AMF_NOT_INITIALIZED);
    amf::AMFDataPtr data;
    EXPECT_EQ(rig.Encoder->QueryOutput(&data), AMF_NOT_INITIALIZED);
  }
}

// The first render node on which vainfo lists an encoder for the codec's profile; empty with the
// reason in *why when there is none.
std::string NodeWithVaEncoder(TestCodec codec, std::string* why) {
  const char* profile = codec == TestCodec::Avc ? "VAProfileH264High" : "VAProfileHEVCMain";
  std::vector<std::string> nodes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", ec))
    if (entry.path().filename().string().rfind("renderD", 0) == 0)
      nodes.push_back(entry.path().string());
  if (nodes.empty()) {
    *why = "no render node under /dev/dri: this machine has no GPU for VA-API";
    return {};
  }
  std::sort(nodes.begin(), nodes.end());
  for (const std::string& node : nodes) {
    std::istringstream lines(ShellOutput("vainfo --display drm --device '" + node + "'"));
    for (std::string line; std::getline(lines, line);)
      if (line.find(profile) != std::string::npos &&
          line.find("VAEntrypointEncSlice") != std::string::npos)
        return node;
  }
  *why = std::string("vainfo finds no ") + profile + " encoder on any render node";
  return {};
}

TEST_P(HardwareDevice, SixtyFramesThroughVaapiFormADecodableStreamWithDelimiters) {
  const TestCodec codec = GetParam();
  std::string why;
  const std::string node = NodeWithVaEncoder(codec, &why);
  if (node.empty()) GTEST_SKIP() << why;

  EncoderRig rig(EncoderConfig{codec, 640, 360, true, -1, 0, node});
  ASSERT_EQ(rig.InitResult, AMF_OK);
  constexpr std::uint32_t kFrames = 60;
  const std::vector<Output> outputs = EncodeGreyFrames(rig, kFrames);
  ASSERT_EQ(outputs.size(), kFrames);
  const int delimiter = codec == TestCodec::Avc ? 9 : 35;
  for (std::uint32_t k = 0; k < kFrames; ++k) {
    EXPECT_EQ(outputs[k].Pts, PtsOf(k));
    EXPECT_EQ(outputs[k].DataType, k == 0 ? 0 : 2) << "IDR first, P after";
    const std::vector<int> types = NalTypes(outputs[k].Bytes, codec);
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types[0], delimiter) << k;
    EXPECT_EQ(std::count(types.begin(), types.end(), delimiter), 1) << k;
  }
  const StreamFile file(outputs, std::string("vaapi") + NamesOf(codec).Extension);
  EXPECT_EQ(
      Probe(file.path(), codec,
            "-show_entries stream=codec_name,profile,width,height,nb_read_frames"),
      (std::vector<std::string>{NamesOf(codec).Demuxer, codec == TestCodec::Avc ? "High" : "Main",
                                "640", "360", "60"}));
  // FFmpeg's own parser finds one delimiter per access unit.
  const std::string units =
      RunCommand(std::string("ffmpeg -hide_banner -v info -f ") + NamesOf(codec).Demuxer + " -i '" +
                 file.path() + "' -c copy -bsf:v trace_headers -f null - 2>&1");
  std::size_t delimiters = 0;
  for (std::size_t at = units.find("Access Unit Delimiter"); at != std::string::npos;
       at = units.find("Access Unit Delimiter", at + 1))
    ++delimiters;
  EXPECT_EQ(delimiters, kFrames);
}

INSTANTIATE_TEST_SUITE_P(Codecs, HardwareDevice, ::testing::Values(TestCodec::Avc, TestCodec::Hevc),
                         [](const auto& param) {
                           return param.param == TestCodec::Avc ? "Avc" : "Hevc";
                         });

}  // namespace

}  // namespace corvantis
