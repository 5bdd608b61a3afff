#include <gtest/gtest.h>

#include <string>

#include "scenarios/frame_canvas.h"

namespace corvantis {

namespace {

constexpr amf::amf_uint64 kVersion = amf::AMF_MAKE_FULL_VERSION(1, 4, 33, 2);
constexpr ClipScenario k1080p60{1920, 1080, 60, 1, 30};

// An empty window gives three lines and no average; a missing description leaves the mode alone.
TEST(ComposeOverlayText, WindowAddsTheAverageLine) {
  OverlayText overlay = ComposeOverlayText(kVersion, L"AMD Radeon RX 7900 XTX", k1080p60, 0, 0, 0);
  EXPECT_EQ(overlay.Text,
            L"AMF 1.4.33.2\r\n"
            L"AMD Radeon RX 7900 XTX, 1920x1080@60.00\r\n"
            L"Frame 0\r\n");
  EXPECT_FALSE(overlay.Average.has_value());
  overlay = ComposeOverlayText(0, nullptr, {3840, 2160, 144, 1, 30}, 1, 0, 0);
  EXPECT_EQ(overlay.Text, L"AMF 0.0.0.0\r\n, 3840x2160@144.00\r\nFrame 1\r\n");

  overlay = ComposeOverlayText(kVersion, L"GPU", k1080p60, 1234, 3, 10);
  EXPECT_EQ(overlay.Text,
            L"AMF 1.4.33.2\r\n"
            L"GPU, 1920x1080@60.00\r\n"
            L"Frame 1234\r\n"
            L"Average Encoding Time: 3.33 ms\r\n");
  ASSERT_TRUE(overlay.Average.has_value());
  EXPECT_DOUBLE_EQ(*overlay.Average, 10.0 / 3.0);
}

TEST(ComposeOverlayText, NumbersKeepTheirFieldsAndConversions) {
  // Each version field is 16 bits wide; the rate is numerator over denominator in double.
  const ClipScenario ntsc{640, 360, 30000, 1001, 30};
  const OverlayText overlay = ComposeOverlayText(amf::AMF_MAKE_FULL_VERSION(65535, 0, 65535, 1),
                                                 L"A", ntsc, 0xFFFFFFFFu, 32, 0xFFFFFFFFu);
  EXPECT_EQ(overlay.Text,
            L"AMF 65535.0.65535.1\r\n"
            L"A, 640x360@29.97\r\n"
            L"Frame -1\r\n"  // "%d" of the unsigned index, as the overlay always printed it
            L"Average Encoding Time: 134217727.97 ms\r\n");
  EXPECT_DOUBLE_EQ(*overlay.Average, 4294967295.0 / 32.0);
}

TEST(ComposeOverlayText, LongLinesAreCutBeforeTheirLineEnd) {
  const std::wstring suffix = L", 1920x1080@60.00";
  // 125 characters of content and the line end fill the 127 characters a line may have.
  const std::wstring fits(125 - suffix.size(), L'a');
  OverlayText overlay = ComposeOverlayText(kVersion, fits.c_str(), k1080p60, 7, 0, 0);
  EXPECT_EQ(overlay.Text, L"AMF 1.4.33.2\r\n" + fits + suffix + L"\r\nFrame 7\r\n");

  const std::wstring oneMore = fits + L"b";
  overlay = ComposeOverlayText(kVersion, oneMore.c_str(), k1080p60, 7, 0, 0);
  EXPECT_EQ(overlay.Text, L"AMF 1.4.33.2\r\n" + oneMore + suffix.substr(0, suffix.size() - 1) +
                              L"\r\nFrame 7\r\n");

  const std::wstring huge(5000, L'x');
  overlay = ComposeOverlayText(kVersion, huge.c_str(), k1080p60, 7, 1, 5);
  EXPECT_EQ(overlay.Text, L"AMF 1.4.33.2\r\n" + std::wstring(125, L'x') +
                              L"\r\nFrame 7\r\nAverage Encoding Time: 5.00 ms\r\n");
}

}  // namespace

}  // namespace corvantis
