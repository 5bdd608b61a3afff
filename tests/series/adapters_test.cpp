#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/adapter_choice.h"
#include "app/process_entry.h"
#include "app/run_reporting.h"
#include "platform/console.h"
#include "platform/hresult_error.h"
#include "platform/utf.h"
#include "platform/va_display.h"
#include "report/json_report.h"
#include "tests/series/adapter_tree.h"
#include "tests/vaapi_driver/test_driver.h"

namespace corvantis {

namespace {

using series_testing::AdapterTree;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::vector<std::string> Lines(const std::wstring& text) {
  std::vector<std::string> lines;
  std::istringstream in(WideToUtf8Lossy(text));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(AdapterChoice, AnIndexNodeOrPciAddressNamesAnAdapterAnythingElseEndsTheRunWithExitTwo) {
  AdapterTree tree;
  const std::string first = tree.Add(128, "0000:00:02.0", "/dev/null");
  const std::string second = tree.Add(129, "0000:03:00.0", "/dev/null");
  const std::vector<RenderNodeFacts> nodes = ListRenderNodes(tree.Sources());
  EXPECT_EQ(ResolveAdapterChoice(L"1", nodes), 1u);
  EXPECT_EQ(ResolveAdapterChoice(Utf8ToWide(first), nodes), 0u);
  EXPECT_EQ(ResolveAdapterChoice(L"0000:03:00.0", nodes), 1u);
  EXPECT_EQ(ResolveAdapterChoice(L"2", nodes), 2u) << "the software adapter, listed last";

  ProcessRoles roles;
  bool ran = false;
  roles.ResolveAdapter = [&](BenchmarkSession& session) {
    session.Options.AdapterIndex = ResolveAdapterChoice(*session.Options.AdapterChoice, nodes);
  };
  roles.RunBenchmarkSession = [&](BenchmarkSession& session) {
    ran = true;
    EXPECT_EQ(session.Options.AdapterIndex, 1);
    return 0;
  };
  EXPECT_EQ(RunProcess({L"corvantis", L"-Adapter:0000:03:00.0"}, roles), 0);
  EXPECT_TRUE(ran);
  ran = false;
  for (const wchar_t* bad : {L"-Adapter:3", L"-Adapter:/dev/dri/renderD129",
                             L"-Adapter:0000:99:00.0", L"-Adapter:", L"-Adapter:AMD"}) {
    SCOPED_TRACE(WideToUtf8Lossy(bad));
    StringConsole out, err;
    ScopedConsoleRedirect redirectOut(out);
    ScopedConsoleRedirect redirectErr(err, ScopedConsoleRedirect::Stream::Err);
    EXPECT_EQ(RunProcess({L"corvantis", bad}, roles), kExitInvalidArgument);
    EXPECT_FALSE(ran) << "the session never starts";
    EXPECT_EQ(out.Text(), L"");
    const std::vector<std::string> lines = Lines(err.Text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], StartsWith("corvantis: " + WideToUtf8Lossy(bad) + " "));
    EXPECT_THAT(lines[0], HasSubstr("; the adapters are: 0 " + first + " (0000:00:02.0), 1 " +
                                    second + " (0000:03:00.0), 2 Software."));
  }
}

// What each node's VA driver encodes, as the tests' driver answers in the manner of each real one.
TEST(AdapterListing, SaysPerNodeWhatItsVaDriverEncodesOrWhyNotThenTheSoftwareAdapter) {
  TestVaDriver driver("radeonsi");
  AdapterTree tree;
  const std::vector<std::string> personalities = {"radeonsi", "no-hevc", "no-encoder",
                                                  "intel-gen12-nohuc", ""};
  std::map<std::string, std::string> personalityOf;
  for (std::size_t i = 0; i < personalities.size(); ++i)
    personalityOf[tree.Add(128 + static_cast<int>(i), "0000:0" + std::to_string(i) + ":00.0",
                           driver.Node())] = personalities[i];
  const auto probe = [&](const std::string& node) {
    const std::string personality = personalityOf.at(node);
    driver.With([&](vadriver::Control& c) { c.personality = personality; });
    // No personality: libva looks for a driver that is not there.
    if (personality.empty()) ::setenv("LIBVA_DRIVER_NAME", "corvantis_missing", 1);
    VaNodeFacts facts = ProbeVaNode(node);
    ::setenv("LIBVA_DRIVER_NAME", VA_TEST_DRIVER_NAME, 1);
    return facts;
  };
  StringConsole out;
  ListAdapters(ListRenderNodes(tree.Sources()), probe, out);
  const std::vector<std::string> lines = Lines(out.Text());
  ASSERT_EQ(lines.size(), 6u) << WideToUtf8Lossy(out.Text());

  const std::string va = "; VA driver " VA_TEST_DRIVER_NAME " \"";
  EXPECT_THAT(lines[0], StartsWith("0: " + personalityOf.begin()->first +
                                   ", 0000:00:00.0, PCI device 1002:73ff, kernel driver amdgpu" +
                                   va + "Mesa Gallium driver 22.3.6 for AMD Radeon RX 6600"));
  EXPECT_THAT(lines[0], ::testing::EndsWith("\"; H.264 encodes; HEVC encodes"));
  EXPECT_THAT(lines[1], HasSubstr("; H.264 encodes; HEVC cannot: the driver has no encoder for "
                                  "VAProfileHEVCMain (a distribution may have built Mesa without "
                                  "h265enc; see README)"));
  EXPECT_THAT(lines[2],
              HasSubstr("; H.264 cannot: the driver has no encoder for VAProfileH264High "
                        "(a distribution may have built Mesa without h264enc; see README); "
                        "HEVC cannot: the driver has no encoder for VAProfileHEVCMain"));
  EXPECT_THAT(lines[3], HasSubstr(va + "Intel iHD driver"));
  EXPECT_THAT(lines[3], HasSubstr("; H.264 cannot: the driver has neither VBR nor CBR rate control "
                                  "(offers CQP); Intel Gen12 encodes through the low-power entry "
                                  "point only, where VBR and CBR need the HuC firmware"));
  EXPECT_THAT(lines[4], HasSubstr("; neither H.264 nor HEVC: no VA driver: vaInitialize: unknown "
                                  "libva error (libva: "));
  EXPECT_THAT(lines[4], HasSubstr("Trying to open " VA_TEST_DRIVERS_PATH
                                  "/corvantis_missing_drv_video.so; va_openDriver() returns -1)"));
  EXPECT_EQ(lines[5],
            "5: Software adapter (CPU encoders libx264 and libx265); H.264 encodes; "
            "HEVC encodes");

  // A driver whose encoder stops short of the largest clip says so.
  VaapiCapabilities small;
  small.Slice = {true, VA_RC_VBR, 0, 1920, 1088};
  EXPECT_EQ(
      ChooseVaEntrypoint(small, {VAProfileH264High, 3840, 2160, VA_RC_VBR, false, ""}).Refusal,
      "the driver encodes VAProfileH264High up to 1920x1088, not 3840x2160");
}

TEST(AdapterListing, ANodeTheUserMayNotOpenNamesTheGroupThatOwnsIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  char pattern[] = "/tmp/corvantis-node-XXXXXX";
  const int fd = ::mkstemp(pattern);
  ASSERT_GE(fd, 0);
  ::close(fd);  // 0600, owned by root, group root
  const pid_t child = ::fork();
  if (child == 0) {
    std::string error;
    const bool refused = ::setuid(65534) == 0 && !VaDisplay::Open(pattern, {}, &error) &&
                         error.find(
                             "Permission denied (the node belongs to group root; add the "
                             "user to it") != std::string::npos;
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ::unlink(pattern);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The report's stack: the VA driver as libva loaded it, the kernel's facts from sysfs, and the
// libraries of this process; null where nothing is known.
TEST(DriverStack, TheReportNamesTheVaDriverKernelDriverFirmwareAndLibraries) {
  TestVaDriver driver("radeonsi");
  AdapterTree tree;
  const std::string node = tree.Add(128, "0000:03:00.0", driver.Node());
  tree.Write("module/amdgpu/srcversion", "6D3A2F0E1B2C3D4E5F60718\n");  // in-tree: no version
  tree.Write("class/drm/renderD128/device/vbios_version", "113-D4120100-100\n");
  tree.Write("class/drm/renderD128/device/fw_version/vcn_fw_version", "0x0311800a\n");
  tree.Write("class/drm/renderD128/device/fw_version/sdma_fw_version", "0x00000051\n");

  RunRecord run;
  run.Stack = ReadDriverStack(node, tree.Sources());
  AddLibraryVersions(run.Stack);
  run.Options.Adapter = node;
  const nlohmann::json report = ReportJson(run);
  EXPECT_EQ(report["schema_version"], kReportSchemaVersion);
  EXPECT_EQ(report["options"]["adapter"], node);
  const nlohmann::json& stack = report["driver_stack"];
  EXPECT_EQ(stack["va_driver"]["name"], VA_TEST_DRIVER_NAME);
  EXPECT_EQ(stack["va_driver"]["path"],
            VA_TEST_DRIVERS_PATH "/" VA_TEST_DRIVER_NAME "_drv_video.so");
  EXPECT_THAT(stack["va_driver"]["vendor"].get<std::string>(),
              StartsWith("Mesa Gallium driver 22.3.6 for AMD Radeon RX 6600"));
  EXPECT_EQ(stack["kernel_driver"],
            nlohmann::json({{"name", "amdgpu"}, {"module_version", "6D3A2F0E1B2C3D4E5F60718"}}));
  EXPECT_EQ(stack["vbios_version"], "113-D4120100-100");
  EXPECT_EQ(stack["firmware"],
            nlohmann::json({{"sdma_fw_version", "0x00000051"}, {"vcn_fw_version", "0x0311800a"}}));
  EXPECT_THAT(stack["libva"].get<std::string>(), ::testing::MatchesRegex("2\\.[0-9]+\\.[0-9]+"));

  // The software adapter has neither VA nor kernel driver.
  run.Stack = ReadDriverStack("", tree.Sources());
  const nlohmann::json software = ReportJson(run)["driver_stack"];
  EXPECT_TRUE(software["va_driver"]["vendor"].is_null());
  EXPECT_TRUE(software["kernel_driver"]["name"].is_null());
  EXPECT_TRUE(software["firmware"].is_null());
}

}  // namespace

}  // namespace corvantis
