#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "debug_capture/debugger_launch_system_linux.h"
#include "debug_capture/debugger_launcher.h"
#include "tests/fakes/files.h"

namespace corvantis {

namespace {

using Strings = std::vector<std::string>;

TEST(DebuggerChildArguments, OneElementPerWordAndNumbersInDecimal) {
  EXPECT_EQ(DebuggerChildArguments("/opt/c v/corvantis", DebugOptions{}, 4242, 7),
            (Strings{"/opt/c v/corvantis", "-ParentProcessDebug", "4242", "0", "7"}));
  DebugOptions options;
  options.DumpType = kMiniDumpFull;
  options.DisableDebugOutput = 1;
  EXPECT_EQ(DebuggerChildArguments("p", options, 4294967295u, 2147483648u),
            (Strings{"p", "-DisableDebugOutput", "-ParentProcessDebug", "4294967295", "6182",
                     "2147483648"}));
}

class ScriptedLaunchSystem final : public DebuggerLaunchSystem {
 public:
  bool Present = false;
  int Event = 9;
  bool Starts = true;
  Strings Calls;
  Strings Arguments;

  bool DebuggerPresent() override { return Present; }
  std::uint32_t ProcessId() override { return 77; }
  std::string ExecutablePath() override { return "/bin/corvantis"; }
  int OpenAttachEvent() override {
    Calls.push_back("open");
    return Event;
  }
  bool StartChild(const Strings& arguments) override {
    Calls.push_back("start");
    Arguments = arguments;
    return Starts;
  }
  void WaitForChild(int timeoutMs) override {
    Calls.push_back("wait " + std::to_string(timeoutMs));
  }
  void CloseAttachEvent() override { Calls.push_back("close"); }
};

TEST(StartDebuggerChild, WaitsAtMostFiveSecondsAndClosesTheEventOnEveryPath) {
  ScriptedLaunchSystem normal;
  EXPECT_TRUE(StartDebuggerChild(DebugOptions{}, normal));
  EXPECT_EQ(normal.Calls, (Strings{"open", "start", "wait 5000", "close"}));
  EXPECT_EQ(normal.Arguments, (Strings{"/bin/corvantis", "-ParentProcessDebug", "77", "0", "9"}));

  ScriptedLaunchSystem failing;
  failing.Starts = false;
  EXPECT_FALSE(StartDebuggerChild(DebugOptions{}, failing));
  EXPECT_EQ(failing.Calls, (Strings{"open", "start", "close"}));

  ScriptedLaunchSystem traced;
  traced.Present = true;
  EXPECT_FALSE(StartDebuggerChild(DebugOptions{}, traced));
  EXPECT_TRUE(traced.Calls.empty());

  ScriptedLaunchSystem noEvent;
  noEvent.Event = -1;
  EXPECT_FALSE(StartDebuggerChild(DebugOptions{}, noEvent));
  EXPECT_EQ(noEvent.Calls, (Strings{"open"}));
}

bool Ended(pid_t pid) { return kill(pid, 0) != 0; }

TEST(LinuxDebuggerLaunch, ChildGetsItsArgumentsAndTheEventAndIsReapedWhenItEnds) {
  const TempDir temp;
  const std::string out = temp.path() / "launch_probe";
  setenv("PROBE_OUT", out.c_str(), 1);
  {
    LinuxDebuggerLaunchSystem system(LAUNCH_PROBE_PATH);
    DebugOptions options;
    options.DisableDebugOutput = 1;
    options.DumpType = 2;
    ASSERT_TRUE(StartDebuggerChild(options, system));
  }
  const std::string report = FileText(out);
  const std::string self = std::to_string(getpid());
  EXPECT_NE(report.find("parent " + self + "\n"), std::string::npos) << report;
  EXPECT_NE(report.find("arg " LAUNCH_PROBE_PATH
                        "\narg -DisableDebugOutput\narg -ParentProcessDebug\narg " +
                        self + "\narg 2\narg "),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("event is a pipe 1\n"), std::string::npos) << report;

  // The probe has ended by now; its entry in the process table must go too.
  const auto pidAt = report.find("pid ");
  ASSERT_NE(pidAt, std::string::npos);
  const pid_t child = std::stoi(report.substr(pidAt + 4));
  for (int i = 0; i < 500 && !Ended(child); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(Ended(child)) << "the ended child was left as a zombie";
}

TEST(LinuxDebuggerLaunch, AProgramThatCannotRunStartsNoChild) {
  LinuxDebuggerLaunchSystem system("/nonexistent/corvantis");
  EXPECT_FALSE(StartDebuggerChild(DebugOptions{}, system));
}

}  // namespace

}  // namespace corvantis
