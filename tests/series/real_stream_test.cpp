// The program's own frames through the real encoder runtime, as a series encodes them: what the
// stream holds against the settings the encoder was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/console.h"
#include "platform/utf.h"
#include "scenarios/codec_profile.h"
#include "scenarios/scenario_series.h"
#include "tests/fakes/files.h"
#include "tests/frames/frame_test_support.h"
#include "tests/series/runtime_series_host.h"

namespace corvantis {

namespace {

// The pictures of an Annex-B stream that begins each access unit with a delimiter: for each,
// whether it is an IDR picture. x264 may cut a picture into several slices.
std::vector<bool> Pictures(const std::string& stream, bool hevc) {
  std::vector<bool> idr;
  for (std::size_t i = 0; i + 3 < stream.size(); ++i) {
    if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1) continue;
    const auto header = static_cast<unsigned char>(stream[i + 3]);
    const int type = hevc ? (header >> 1) & 0x3F : header & 0x1F;
    if (type == (hevc ? 35 : 9))
      idr.push_back(false);
    else if (!idr.empty() && (hevc ? type == 19 || type == 20 : type == 5))
      idr.back() = true;
    i += 2;
  }
  return idr;
}

class RealStreamTest : public ::testing::TestWithParam<bool> {};

// 300 frames in 5 s: more than the libraries' default keyframe interval of 250, so infinite
// intervals are told apart from the default; the bit rate of 500000 is a ceiling for content as
// simple as these frames (the figure is printed).
TEST_P(RealStreamTest, OneIdrAndTheBitRateOfA5SecondClip) {
  const bool hevc = GetParam();
  const TempDir temp;
  const std::filesystem::path& directory = temp.path();

  BenchmarkSession session;
  InitDrawingSession(session);
  std::wcsncpy(session.AdapterDescription.Description, L"Software adapter", 127);
  series_testing::RuntimeSeriesHost host(directory.wstring(), {{640, 360, 60, 1, 5}});
  CodecProfile profile = hevc ? HevcProfile() : AvcProfile();
  std::once_flag reported;
  profile.VersionReported = &reported;
  StringConsole console;
  {
    ScopedConsoleRedirect redirect(console);
    RunScenarioSeries(session, profile, host);
  }
  std::vector<std::filesystem::path> streams;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path().extension() == (hevc ? ".h265" : ".h264")) streams.push_back(entry.path());
  ASSERT_EQ(streams.size(), 1u) << WideToUtf8Lossy(console.Text());
  const std::string stream = FileText(streams[0]);

  const std::vector<bool> idr = Pictures(stream, hevc);
  EXPECT_EQ(idr.size(), 300u);
  EXPECT_EQ(std::count(idr.begin(), idr.end(), true), 1);
  EXPECT_TRUE(!idr.empty() && idr[0]) << "the first picture is the IDR";

  const double bitsPerSecond = static_cast<double>(stream.size()) * 8 / 5;
  std::printf("%s: %zu bytes in 5 s, %.0f bit/s against the target 500000\n", hevc ? "HEVC" : "AVC",
              stream.size(), bitsPerSecond);
  EXPECT_LE(bitsPerSecond, 500000 * 1.10);
  EXPECT_GE(bitsPerSecond, 20000);
}

INSTANTIATE_TEST_SUITE_P(Codecs, RealStreamTest, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Hevc" : "Avc"; });

}  // namespace

}  // namespace corvantis
