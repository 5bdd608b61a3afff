#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/hresult_error.h"
#include "scenarios/clip_files.h"
#include "scenarios/results_table.h"
#include "tests/fakes/files.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

using Chunks = std::vector<std::shared_ptr<std::vector<std::uint8_t>>>;

constexpr LocalDateTime kNow{2024, 1, 3, 31, 14, 25, 1, 0};

Chunks MakeChunks(const std::vector<std::string>& parts) {
  Chunks chunks;
  for (const std::string& part : parts)
    chunks.push_back(std::make_shared<std::vector<std::uint8_t>>(part.begin(), part.end()));
  return chunks;
}

TEST(ClipPathTest, NamesTheClipByLocalTimeAndModeWithoutRateDecimalsWithin259Characters) {
  EXPECT_EQ(BuildClipPath(L"/opt/bench", kNow, {1920, 1080, 60, 1, 30}, L".h264"),
            L"/opt/bench/20240131-142501-1920x1080@60.h264");
  // The extension replaces ".97", so a fractional rate is cut, not rounded.
  EXPECT_EQ(BuildClipPath(L"/opt/bench", kNow, {1280, 720, 30000, 1001, 30}, L".h265"),
            L"/opt/bench/20240131-142501-1280x720@29.h265");

  // Paths longer than 259 characters raise.
  const std::wstring name = L"/20240131-142501-1920x1080@60.h264";
  const ClipScenario clip{1920, 1080, 60, 1, 30};
  const std::wstring fits(259 - name.size(), L'd');
  EXPECT_EQ(BuildClipPath(fits, kNow, clip, L".h264").size(), 259u);
  EXPECT_EQ(RaisedCode([&] { BuildClipPath(fits + L"d", kNow, clip, L".h264"); }), 0x800700CEu);
}

class ClipStreamTest : public ::testing::Test {
 protected:
  std::wstring PathOf(const char* name) const { return (directory_ / name).wstring(); }

  const TempDir temp_;
  const std::filesystem::path directory_ = temp_.path();
};

TEST_F(ClipStreamTest, WritesTheChunksInOrderAndNothingElse) {
  WriteClipStream(PathOf("a.h264"), MakeChunks({std::string("\0\0\x01", 3), "", "abc", "\xff"}));
  EXPECT_EQ(FileText(directory_ / "a.h264"), std::string("\x00\x00\x01", 3) + "abc\xff");

  // More chunks than one vectored write takes.
  Chunks many;
  std::string expected;
  for (int i = 0; i < 2500; ++i) {
    const std::string part(static_cast<std::size_t>(1 + i % 7), static_cast<char>('a' + i % 26));
    many.push_back(std::make_shared<std::vector<std::uint8_t>>(part.begin(), part.end()));
    expected += part;
  }
  WriteClipStream(PathOf("b.h264"), many);
  EXPECT_EQ(FileText(directory_ / "b.h264"), expected);
}

TEST_F(ClipStreamTest, NeverOverwritesAndReportsWhereItCannotWrite) {
  std::ofstream(directory_ / "a.h264") << "keep";
  EXPECT_EQ(RaisedCode([&] { WriteClipStream(PathOf("a.h264"), MakeChunks({"new"})); }),
            0x80070050u);
  EXPECT_EQ(FileText(directory_ / "a.h264"), "keep");

  const std::uint32_t missingDirectory =
      RaisedCode([&] { WriteClipStream(PathOf("absent/a.h264"), MakeChunks({"new"})); });
  EXPECT_TRUE(FAILED(static_cast<HRESULT>(missingDirectory))) << std::hex << missingDirectory;
}

TEST(ResultsTableTest, AppendsOneTabbedLinePerClipAndAClosingEmptyLine) {
  BenchmarkSession session;
  session.ResultsText = L"AVC; AMF 1.4.16.0\n\n";
  StringConsole console;
  ScopedConsoleRedirect redirect(console);

  AppendResultsTable(session, {});
  EXPECT_EQ(session.ResultsText, L"AVC; AMF 1.4.16.0\n\n");
  EXPECT_EQ(console.Text(), L"");

  AppendResultsTable(session, {{{1920, 1080, 60, 1, 30}, "3.27"},
                               {{640, 360, 260, 1, 30}, "FAIL"},
                               {{1280, 720, 30000, 1001, 30}, "1.05"}});
  const std::wstring table = L"1920x1080@60\t3.27\n640x360@260\tFAIL\n1280x720@30\t1.05\n\n";
  EXPECT_EQ(session.ResultsText, L"AVC; AMF 1.4.16.0\n\n" + table);
  EXPECT_EQ(console.Text(), table);
}

}  // namespace

}  // namespace corvantis
