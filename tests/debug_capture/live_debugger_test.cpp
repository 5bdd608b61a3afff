#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/fakes/files.h"

namespace corvantis {

namespace {

struct RaiserRun {
  std::string Out;
  std::string Err;
  int Status = -1;       // the raiser's wait status
  int ChildStatus = -1;  // the debugger child's wait status
  std::vector<std::string>
      Dumps;  // names of the dumps the child wrote, "<pid>" for the raiser's id
};

// Waits at most 30 s for `pid`, which may become this process's child only later (an orphan
// handed to this subreaper); kills it when it does not end.
int WaitBounded(pid_t pid) {
  int status = -1;
  for (int i = 0; i < 3000; ++i) {
    const pid_t result = waitpid(pid, &status, WNOHANG | __WALL);
    if (result == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, __WALL);
  ADD_FAILURE() << "process " << pid << " did not end";
  return status;
}

// Runs the tests' event raiser with a copy of the real program as its debugger child, in a
// folder of its own where the child's dumps land.
RaiserRun RunRaiser(std::vector<std::string> arguments) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const TempDir temp;
  const std::filesystem::path& folder = temp.path();
  const std::filesystem::path program = folder / "corvantis";
  std::filesystem::copy_file(CORVANTIS_EXECUTABLE, program);
  arguments.insert(arguments.begin(), {EVENT_RAISER, program.string()});
  const pid_t raiser = fork();
  if (raiser == 0) {
    dup2(open((folder / "out").c_str(), O_WRONLY | O_CREAT, 0600), 1);
    dup2(open((folder / "err").c_str(), O_WRONLY | O_CREAT, 0600), 2);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  RaiserRun run;
  run.Status = WaitBounded(raiser);
  run.Out = FileText(folder / "out");
  run.Err = FileText(folder / "err");
  int child = 0;
  if (std::sscanf(run.Err.c_str(), "child %d", &child) == 1 && child > 0)
    run.ChildStatus = WaitBounded(child);
  const std::string pid = std::to_string(raiser);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".dmp") continue;
    if (const auto at = name.find(pid); at != std::string::npos)
      name.replace(at, pid.size(), "<pid>");
    run.Dumps.push_back(name);
  }
  std::sort(run.Dumps.begin(), run.Dumps.end());
  return run;
}

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

TEST(LiveDebuggerTest, RelaysDebugStringsAndDescribesThrownObjectsOfARealProcess) {
  const RaiserRun run = RunRaiser({"strings", "throw", "print"});
  EXPECT_EQ(run.Out,
            "wide h\u00e9llo\n"
            "narrow caf\u00e9 \uFFFD\n"
            "Exception: Module corvantis_event_raiser, winrt::hresult_error, 0x80070050\n"
            "parent line\n");
  EXPECT_TRUE(ExitedWith(run.Status, 0)) << run.Status;
  // The child ended with the parent, with the argument count as its exit code.
  EXPECT_TRUE(ExitedWith(run.ChildStatus, 5)) << run.ChildStatus;
  EXPECT_EQ(run.Dumps, std::vector<std::string>{"corvantis-<pid>-DebugException-0-0x80070050.dmp"});

  const RaiserRun quiet = RunRaiser({"quiet", "strings", "throw"});
  EXPECT_EQ(quiet.Out,
            "Exception: Module corvantis_event_raiser, winrt::hresult_error, 0x80070050\n");
  EXPECT_TRUE(ExitedWith(quiet.ChildStatus, 6)) << quiet.ChildStatus;
}

// Faults: an int3 killed the parent ("Trace/breakpoint trap"); an unhandled fault was reported
// once, not at its first and again at its last chance; the dump of an executable replaced since
// it started was named "corvantis (deleted)-...".
TEST(LiveDebuggerTest,
     ABreakpointCarriesOnAndAnUnhandledFaultIsReportedTwiceBeforeItEndsTheProcess) {
  for (const char* handler : {"", "handler"}) {
    SCOPED_TRACE(handler);
    const RaiserRun breakpoint = RunRaiser({handler, "int3", "print"});
    EXPECT_EQ(breakpoint.Out, "parent line\n");
    EXPECT_TRUE(ExitedWith(breakpoint.Status, 0)) << breakpoint.Status;
    EXPECT_TRUE(breakpoint.Dumps.empty());

    // Without a handler the first stop is also the last; the program's own handler has its
    // first chance with the fault event and gives the fault back for the last.
    const RaiserRun run = RunRaiser({handler, "replace", "segv", "print"});
    EXPECT_EQ(run.Out, "Exception: \nException: \n");
    EXPECT_TRUE(WIFSIGNALED(run.Status) && WTERMSIG(run.Status) == SIGSEGV) << run.Status;
    EXPECT_TRUE(ExitedWith(run.ChildStatus, 5)) << run.ChildStatus;
    EXPECT_EQ(run.Dumps,
              (std::vector<std::string>{"corvantis-<pid>-DebugException-0-0xC0000005.dmp",
                                        "corvantis-<pid>-DebugException-1-0xC0000005.dmp"}));
  }

  // Ctrl-C reaches both; the child passes it on and outlives the parent.
  const RaiserRun interrupted = RunRaiser({"group", "interrupt", "print"});
  EXPECT_EQ(interrupted.Out, "");
  EXPECT_TRUE(WIFSIGNALED(interrupted.Status) && WTERMSIG(interrupted.Status) == SIGINT)
      << interrupted.Status;
  EXPECT_TRUE(ExitedWith(interrupted.ChildStatus, 5)) << interrupted.ChildStatus;
}

TEST(LiveDebuggerTest, AParentThatCannotBeAttachedRunsOnAndTheChildEndsQuietly) {
  const RaiserRun run = RunRaiser({"traced", "strings", "print"});
  EXPECT_EQ(run.Out, "parent line\n");
  EXPECT_TRUE(ExitedWith(run.Status, 0)) << run.Status;
  EXPECT_TRUE(ExitedWith(run.ChildStatus, 1)) << run.ChildStatus;
  EXPECT_EQ(run.Err.find("corvantis"), std::string::npos) << run.Err;
  EXPECT_TRUE(run.Dumps.empty());
}

}  // namespace

}  // namespace corvantis
