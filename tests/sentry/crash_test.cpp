#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "sentry/database.h"
#include "sentry/shell.h"
#include "tests/http/loopback_server.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/temp_dir.h"

namespace corvantis::sentry {
namespace {

namespace fs = std::filesystem;
using corvantis::testing::LoopbackServer;
using corvantis::testing::RefusingPort;
using std::chrono::seconds;
using std::chrono::steady_clock;

fs::path BesideTests(const char* name) { return fs::read_symlink("/proc/self/exe").parent_path() / name; }

struct ProgramRun {
  int status = 0;
  steady_clock::duration untilDeath{};
};

// Runs the crash program in `folder` and waits for it, and then for its handler process, which
// this process inherits as the subreaper when the program dies.
ProgramRun RunCrashProgram(const fs::path& folder, const std::string& mode, const std::string& dsn,
                           const std::string& totalTimeoutMs = "") {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::string program = BesideTests("corvantis_crash_program").string();
  const auto start = steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    if (totalTimeoutMs.empty()) {
      execl(program.c_str(), program.c_str(), mode.c_str(), dsn.c_str(), nullptr);
    } else {
      execl(program.c_str(), program.c_str(), mode.c_str(), dsn.c_str(), totalTimeoutMs.c_str(),
            nullptr);
    }
    _exit(127);
  }
  ProgramRun run;
  EXPECT_EQ(waitpid(pid, &run.status, 0), pid);
  run.untilDeath = steady_clock::now() - start;
  const auto giveUp = steady_clock::now() + seconds(30);
  for (;;) {
    const pid_t other = waitpid(-1, nullptr, WNOHANG);
    if (other < 0 || steady_clock::now() > giveUp) break;
    if (other == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return run;
}

std::string RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen(("timeout 120 " + command + " </dev/null 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char chunk[4096];
  while (const size_t n = fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
  pclose(pipe);
  return output;
}

std::string LoopbackDsn(int port) {
  return "http://0123456789abcdef@127.0.0.1:" + std::to_string(port) + "/42";
}

struct CrashCase {
  const char* mode;
  int signal;
  const char* function;  // the crashing function, as LLDB names it

  friend void PrintTo(const CrashCase& crash, std::ostream* out) { *out << crash.mode; }
};

class CrashReport : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashReport, ReachesTheServerWithScopeAndTheProcessDiesByItsSignal) {
  const testing::TempDir folder;
  LoopbackServer server;
  server.server().Post("/api/42/envelope/", [&](const httplib::Request& req, httplib::Response&) {
    server.Record(req);
  });
  const ProgramRun run = RunCrashProgram(folder.path(), GetParam().mode, LoopbackDsn(server.port()));
  ASSERT_TRUE(WIFSIGNALED(run.status)) << run.status;
  EXPECT_EQ(WTERMSIG(run.status), GetParam().signal);

  ASSERT_TRUE(server.WaitForRequests(1, seconds(10)));
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 1U);
  const auto envelope = testing::ReadEnvelope(received[0].body);
  const Json& event = envelope.event;
  EXPECT_EQ(envelope.header["event_id"], event["event_id"]);
  EXPECT_EQ(event["level"], "fatal");
  EXPECT_EQ(event["platform"], "native");
  EXPECT_EQ(event["user"], Json({{"email", "crash@example.org"}}));
  EXPECT_EQ(event["tags"], Json({{"amf_version", "1.4.18.0"}, {"dxgi_adapter_vendor_id", "0x1002"}}));
  const Json& crumbs = event["breadcrumbs"]["values"];
  ASSERT_EQ(crumbs.size(), 2U);
  EXPECT_EQ(crumbs[0]["category"], "hardware");
  EXPECT_EQ(crumbs[1]["message"], "last step before the crash");
  EXPECT_EQ(event["exception"]["values"][0]["mechanism"]["meta"]["signal"]["number"],
            GetParam().signal);
  EXPECT_TRUE(event["contexts"]["os"].contains("name"));

  const auto* minidump = envelope.Item("attachment");
  ASSERT_NE(minidump, nullptr);
  EXPECT_EQ(minidump->header["attachment_type"], "event.minidump");
  const fs::path dump = folder.path() / "crash.dmp";
  std::ofstream(dump, std::ios::binary) << minidump->payload;
  const std::string backtrace = RunCommand("lldb --batch -c " + dump.string() + " " +
                                           BesideTests("corvantis_crash_program").string() +
                                           " -o bt");
  EXPECT_NE(backtrace.find(GetParam().function), std::string::npos) << backtrace;
  EXPECT_NE(backtrace.find("main"), std::string::npos) << backtrace;

  // Sent and accepted: nothing is left behind.
  EXPECT_TRUE(testing::FileNames(folder.path() / ".sentry-native" / "pending").empty());
  EXPECT_TRUE(testing::FileNames(folder.path() / ".sentry-native").empty());

}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashReport,
    ::testing::Values(CrashCase{"null-write", SIGSEGV, "CrashByNullWrite"},
                      CrashCase{"abort", SIGABRT, "CrashByAbort"},
                      CrashCase{"uncaught-exception", SIGABRT, "CrashByUncaughtException"}),
    [](const auto& param) {
      std::string name = param.param.mode;
      std::erase(name, '-');
      return name;
    });

TEST(CrashDelivery, WaitsInTheDatabaseWhenTheServerIsDownOrSilentAndGoesAtTheNextStart) {
  const testing::TempDir folder;
  const fs::path pending = folder.path() / ".sentry-native" / "pending";
  {
    RefusingPort down;
    const ProgramRun run = RunCrashProgram(folder.path(), "null-write", LoopbackDsn(down.port()));
    EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGSEGV);
  }
  EXPECT_EQ(testing::FileNames(pending).size(), 1U);
  {
    LoopbackServer silent;
    silent.server().Post("/api/42/envelope/", [&](const httplib::Request&, httplib::Response&) {
      silent.HoldUntilReleased();
    });
    // The handler gives up after its time limit; the crashed process does not wait for it.
    const ProgramRun run =
        RunCrashProgram(folder.path(), "abort", LoopbackDsn(silent.port()), "1500");
    EXPECT_TRUE(WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGABRT);
    EXPECT_LT(run.untilDeath, seconds(10));
    EXPECT_TRUE(silent.WaitForHeldRequest(seconds(1)));
  }
  EXPECT_EQ(testing::FileNames(pending).size(), 2U);
  std::ofstream(pending / "00000000000000000000-corrupt.envelope") << "{\"event_id\"";

  LoopbackServer server;
  server.server().Post("/api/42/envelope/", [&](const httplib::Request& req, httplib::Response&) {
    server.Record(req);
  });
  const ProgramRun run = RunCrashProgram(folder.path(), "no-crash", LoopbackDsn(server.port()));
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0);
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 2U);
  for (const auto& request : received) {
    EXPECT_EQ(testing::ReadEnvelope(request.body).event["level"], "fatal");
  }
  EXPECT_TRUE(testing::FileNames(pending).empty());
  EXPECT_EQ(testing::FileNames(folder.path() / ".sentry-native" / "aside"),
            std::vector<std::string>{"00000000000000000000-corrupt.envelope"});
}

TEST(CrashDelivery, WithoutADsnNothingIsStartedCaughtOrWritten) {
  const testing::TempDir folder;
  const fs::path before = fs::current_path();
  fs::current_path(folder.path());
  sentry_init(sentry_options_new());
  sentry_set_tag("k", "v");
  struct sigaction action{};
  for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP}) {
    sigaction(signal, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child process at all
  sentry_shutdown();
  fs::current_path(before);
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

}  // namespace
}  // namespace corvantis::sentry
