#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

#include "amf/factory_helper.h"
#include "platform/console.h"
#include "platform/drawing/cairo_drawing.h"
#include "platform/graphics.h"
#include "platform/utf.h"
#include "scenarios/codec_profile.h"
#include "scenarios/scenario_series.h"

namespace {

// The real encoder runtime, loaded from the build, on the machine's clock.
class RuntimeSeriesHost final : public SeriesHost {
 public:
  explicit RuntimeSeriesHost(std::wstring directory) : directory_(std::move(directory)) {}
  std::span<const ClipScenario> Matrix() override { return rows_; }
  AMF_RESULT LoadRuntime() override { return loader_.LoadRuntime(); }
  amf::AMFFactory* RuntimeFactory() override { return loader_.RuntimeFactory(); }
  amf::amf_uint64 RuntimeVersion() override { return loader_.RuntimeVersion(); }
  bool IsDebuggerPresent() override { return false; }
  void EnableAmfDebugTracing() override {}
  void ReportAmfVersion(const std::string&, amf::amf_uint64) override {}
  Clock& GetClock() override { return SystemClock(); }
  std::wstring OutputDirectory() override { return directory_; }

 private:
  const ClipScenario rows_[2] = {{64, 36, 30, 1, 1}, {80, 46, 30, 1, 1}};
  AMFFactoryHelper loader_{Utf8ToWide(AMFRT_LIBRARY_PATH)};
  std::wstring directory_;
};

// A hardware adapter's device whose node has no VA driver: each series ends at its first clip as
// for an encoder that does not start, and nothing is encoded or written.
TEST(HardwareSeries, NodeWithoutAVaDriverEndsEachSeriesAtItsFirstClip) {
  char pattern[] = "/tmp/corvantis-hw-series-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path directory = pattern;
  const std::string node = (directory / "renderD128").string();
  close(open(node.c_str(), O_CREAT | O_WRONLY, 0600));

  BenchmarkSession session;
  ASSERT_EQ(CreateCpuDevice(session.Device.put(), session.DeviceContext.put(), node), S_OK);
  ASSERT_EQ(CreateCairoD2DFactory(session.D2DFactory.put()), S_OK);
  ASSERT_EQ(CreateFontconfigDWriteFactory(session.DWriteFactory.put()), S_OK);
  ASSERT_EQ(CreatePngImagingFactory(session.WicFactory.put()), S_OK);
  session.TextureDescription.MipLevels = 1;
  session.TextureDescription.BindFlags = 0x28;
  session.ResultsText = L"Adapter (Corvantis)\n\n";
  RuntimeSeriesHost host(directory.wstring());

  StringConsole console;
  {
    ScopedConsoleRedirect redirect(console);
    for (CodecProfile profile : {AvcProfile(), HevcProfile()}) {
      std::once_flag reported;
      profile.VersionReported = &reported;
      RunScenarioSeries(session, profile, host);
    }
  }
  EXPECT_EQ(console.text(),
            L"Trying to record 2 AVC clips, 30 seconds long each clip...\n\n"
            L"Video: 64 x 36, 32-bit RGB, 30.00 frames per second, 1 seconds\n"
            L"Trying to record 2 HEVC clips, 30 seconds long each clip...\n\n"
            L"Video: 64 x 36, 32-bit RGB, 30.00 frames per second, 1 seconds\n");
  EXPECT_EQ(session.ResultsText, L"Adapter (Corvantis)\n\n");
  std::vector<std::filesystem::path> written;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.path() != node) written.push_back(entry.path());
  EXPECT_TRUE(written.empty()) << written.front();
  std::filesystem::remove_all(directory);
}

}  // namespace
