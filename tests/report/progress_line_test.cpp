#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "report/progress_line.h"
#include "tests/fakes/fake_clock.h"

namespace corvantis {

namespace {

SeriesRecord Series(const wchar_t* label) {
  SeriesRecord series;
  series.Label = label;
  series.Matrix = {{64, 36, 30, 1, 1}, {1920, 1080, 60, 1, 1}};
  return series;
}

std::size_t Count(const std::wstring& text, const std::wstring& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// The terminal and standard output share one console, so the order of their text shows.
class ProgressLineTest : public ::testing::Test {
 protected:
  StringConsole screen_;
  ScopedConsoleRedirect out_{screen_, ScopedConsoleRedirect::Stream::Out};
  ScopedConsoleRedirect err_{screen_, ScopedConsoleRedirect::Stream::Err};
  fakes::FakeClock clock_{1000};
};

TEST_F(ProgressLineTest, DrawsAtMostFourTimesASecondAndClearsBeforeOtherText) {
  ProgressLine line(screen_, clock_, 2);
  const SeriesRecord avc = Series(L"AVC");
  line.SeriesStarted(avc);
  line.ClipStarted(avc, 0);
  for (std::uint32_t k = 0; k < 30; ++k) {
    line.FrameDrawn(k, 30, k == 0 ? 0 : 4, k == 0 ? 0 : 38);
    clock_.Advance(33);
  }
  // At 0, 264, 528 and 792 ms.
  EXPECT_EQ(Count(screen_.Text(), L"\r"), 4u);
  EXPECT_THAT(
      screen_.Text(),
      ::testing::StartsWith(L"\rAVC 64x36@30  frame 1/30  avg 0.0 ms  clip 1/4  ~4 s left\x1b[K"));
  EXPECT_THAT(screen_.Text(), ::testing::HasSubstr(L"frame 9/30  avg 9.5 ms"));

  StdOut().WriteLine(L"Average Encoding Time: 9.50 ms");
  EXPECT_THAT(screen_.Text(),
              ::testing::EndsWith(L"\x1b[K\r\x1b[KAverage Encoding Time: 9.50 ms\n"));
  StdErr().WriteLine(L"a notice");  // cleared once only
  EXPECT_THAT(screen_.Text(), ::testing::EndsWith(L"9.50 ms\na notice\n"));
}

TEST_F(ProgressLineTest, CountsClipsAndTimeLeftAcrossBothSeries) {
  ProgressLine line(screen_, clock_, 2);
  line.SeriesStarted(Series(L"AVC"));
  const SeriesRecord hevc = Series(L"HEVC");
  line.SeriesStarted(hevc);
  line.ClipStarted(hevc, 1);
  line.FrameDrawn(29, 60, 1, 7);
  EXPECT_EQ(screen_.Text(),
            L"\rHEVC 1920x1080@60  frame 30/60  avg 7.0 ms  clip 4/4  ~1 s left\x1b[K");
  line.SeriesEnded(hevc);
  EXPECT_THAT(screen_.Text(), ::testing::EndsWith(L"\x1b[K\r\x1b[K"));
}

TEST_F(ProgressLineTest, LeavesNothingOnTheTerminalWhenItGoes) {
  {
    ProgressLine line(screen_, clock_, 1);
    const SeriesRecord avc = Series(L"AVC");
    line.SeriesStarted(avc);
    line.ClipStarted(avc, 0);
    line.FrameDrawn(0, 30, 0, 0);
  }
  EXPECT_THAT(screen_.Text(), ::testing::EndsWith(L"\r\x1b[K"));
  StdOut().WriteLine(L"after");  // the streams are back to their own consoles
  EXPECT_THAT(screen_.Text(), ::testing::EndsWith(L"\r\x1b[Kafter\n"));
}

}  // namespace

}  // namespace corvantis
