#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "sentry/crash_request.h"
#include "sentry/database.h"
#include "sentry/handler/process_minidump_source.h"
#include "sentry/shell.h"
#include "tests/fakes/fake_http_sender.h"
#include "tests/fakes/files.h"
#include "tests/http/loopback_server.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/fakes.h"
#include "tests/sentry/temp_dir.h"

namespace corvantis::sentry {
namespace {

namespace fs = std::filesystem;
using corvantis::testing::LoopbackServer;
using corvantis::testing::RefusingPort;
using std::chrono::seconds;
using std::chrono::steady_clock;

fs::path BesideTests(const char* name) {
  return fs::read_symlink("/proc/self/exe").parent_path() / name;
}

struct ProgramRun {
  int Status = 0;
  steady_clock::duration UntilDeath{};
};

// Runs the crash program in `folder` with `arguments` and waits for it (killing it after 40 s),
// and then for its handler process, which this process inherits as the subreaper when the
// program dies.
ProgramRun RunCrashProgram(const fs::path& folder, const std::vector<std::string>& arguments) {
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  const std::string program = BesideTests("corvantis_crash_program").string();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const auto start = steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  ProgramRun run;
  while (waitpid(pid, &run.Status, WNOHANG) == 0) {
    if (steady_clock::now() - start > seconds(40)) kill(pid, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.UntilDeath = steady_clock::now() - start;
  const auto giveUp = steady_clock::now() + seconds(30);
  for (;;) {
    const pid_t other = waitpid(-1, nullptr, WNOHANG);
    if (other < 0 || steady_clock::now() > giveUp) break;
    if (other == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return run;
}

// Every folder under `root` (itself included) is 0700 and every file 0600.
void ExpectOnlyPrivateEntries(const fs::path& root) {
  EXPECT_EQ(fs::symlink_status(root).permissions(), fs::perms::owner_all) << root;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const fs::file_status status = fs::symlink_status(entry.path());
    EXPECT_EQ(status.permissions(), status.type() == fs::file_type::directory
                                        ? fs::perms::owner_all
                                        : fs::perms::owner_read | fs::perms::owner_write)
        << entry.path();
  }
}

std::string LoopbackDsn(int port) {
  return "http://0123456789abcdef@127.0.0.1:" + std::to_string(port) + "/42";
}

struct CrashCase {
  const char* Mode;
  int Signal;
  const char* Function;  // the crashing function, as LLDB names it
  const char* Caller;    // one further up the stack, when the dump holds that much of it

  friend void PrintTo(const CrashCase& crash, std::ostream* out) { *out << crash.Mode; }
};

class CrashReport : public ::testing::TestWithParam<CrashCase> {};

TEST_P(CrashReport, ReachesTheServerWithScopeAndTheProcessDiesByItsSignal) {
  const testing::TempDir folder;
  LoopbackServer server;
  server.RecordPosts("/api/42/envelope/");
  const ProgramRun run =
      RunCrashProgram(folder.path(), {GetParam().Mode, LoopbackDsn(server.port())});
  ASSERT_TRUE(WIFSIGNALED(run.Status)) << run.Status;
  EXPECT_EQ(WTERMSIG(run.Status), GetParam().Signal);

  ASSERT_TRUE(server.WaitForRequests(1, seconds(10)));
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 1U);
  const auto envelope = testing::ReadEnvelope(received[0].Body);
  const Json& event = envelope.Event;
  EXPECT_EQ(envelope.Header["event_id"], event["event_id"]);
  EXPECT_EQ(event["level"], "fatal");
  EXPECT_EQ(event["platform"], "native");
  EXPECT_EQ(event["user"], Json({{"email", "crash@example.org"}}));
  EXPECT_EQ(event["tags"],
            Json({{"amf_version", "1.4.18.0"}, {"dxgi_adapter_vendor_id", "0x1002"}}));
  const Json& crumbs = event["breadcrumbs"]["values"];
  ASSERT_EQ(crumbs.size(), 2U);
  EXPECT_EQ(crumbs[0]["category"], "hardware");
  EXPECT_EQ(crumbs[1]["message"], "last step before the crash");
  EXPECT_EQ(event["exception"]["values"][0]["mechanism"]["meta"]["signal"]["number"],
            GetParam().Signal);
  EXPECT_TRUE(event["contexts"]["os"].contains("name"));

  const auto* minidump = envelope.Item("attachment");
  ASSERT_NE(minidump, nullptr);
  EXPECT_EQ(minidump->Header["attachment_type"], "event.minidump");
  const fs::path dump = folder.path() / "crash.dmp";
  std::ofstream(dump, std::ios::binary) << minidump->Payload;
  const std::string backtrace =
      ShellOutput("lldb --batch -c " + dump.string() + " " +
                  BesideTests("corvantis_crash_program").string() + " -o bt");
  EXPECT_NE(backtrace.find(GetParam().Function), std::string::npos) << backtrace;
  if (GetParam().Caller != nullptr) {
    EXPECT_NE(backtrace.find(GetParam().Caller), std::string::npos) << backtrace;
  }

  // Sent and accepted: nothing is left behind.
  EXPECT_TRUE(testing::FileNames(folder.path() / ".sentry-native" / "pending").empty());
  EXPECT_TRUE(testing::FileNames(folder.path() / ".sentry-native").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Crashes, CrashReport,
    ::testing::Values(CrashCase{"null-write", SIGSEGV, "CrashByNullWrite", "main"},
                      CrashCase{"abort", SIGABRT, "CrashByAbort", "main"},
                      CrashCase{"uncaught-exception", SIGABRT, "CrashByUncaughtException", "main"},
                      // On a thread the client started, not the one that called sentry_init.
                      CrashCase{"overflow-on-sending-thread", SIGSEGV, "OverflowTheStack", nullptr},
                      // On a thread a library started itself, as x264's workers are.
                      CrashCase{"overflow-on-library-thread", SIGSEGV, "OverflowLibraryStack",
                                nullptr}),
    [](const auto& param) {
      std::string name = param.param.Mode;
      std::erase(name, '-');
      return name;
    });

TEST(CrashDelivery, WaitsInTheDatabaseWhenTheServerIsDownOrSilentAndGoesAtTheNextStart) {
  const testing::TempDir folder;
  const fs::path pending = folder.path() / ".sentry-native" / "pending";
  {
    RefusingPort down;
    const ProgramRun run = RunCrashProgram(folder.path(), {"null-write", LoopbackDsn(down.port())});
    EXPECT_TRUE(WIFSIGNALED(run.Status) && WTERMSIG(run.Status) == SIGSEGV);
  }
  EXPECT_EQ(testing::FileNames(pending).size(), 1U);
  {
    LoopbackServer silent;
    silent.HoldPosts("/api/42/envelope/");
    // The handler gives up after its time limit; the crashed process does not wait for it.
    const ProgramRun run =
        RunCrashProgram(folder.path(), {"abort", LoopbackDsn(silent.port()), "1500"});
    EXPECT_TRUE(WIFSIGNALED(run.Status) && WTERMSIG(run.Status) == SIGABRT);
    EXPECT_LT(run.UntilDeath, seconds(10));
    EXPECT_TRUE(silent.WaitForHeldRequest(seconds(1)));
  }
  EXPECT_EQ(testing::FileNames(pending).size(), 2U);
  // The program ran with no umask: the modes are the client's and the handler's own.
  ExpectOnlyPrivateEntries(folder.path() / ".sentry-native");
  std::ofstream(pending / "00000000000000000000-corrupt.envelope") << "{\"event_id\"";

  LoopbackServer server;
  server.RecordPosts("/api/42/envelope/");
  const ProgramRun run = RunCrashProgram(folder.path(), {"no-crash", LoopbackDsn(server.port())});
  EXPECT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0);
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 2U);
  for (const auto& request : received) {
    EXPECT_EQ(testing::ReadEnvelope(request.Body).Event["level"], "fatal");
  }
  EXPECT_TRUE(testing::FileNames(pending).empty());
  EXPECT_EQ(testing::FileNames(folder.path() / ".sentry-native" / "aside"),
            std::vector<std::string>{"00000000000000000000-corrupt.envelope.corrupt"});
}

TEST(CrashDelivery, WithoutADsnNothingIsStartedCaughtOrWritten) {
  const testing::TempDir folder;
  const fs::path before = fs::current_path();
  fs::current_path(folder.path());
  sentry_init(sentry_options_new());
  sentry_set_tag("k", "v");
  struct sigaction action {};
  for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP}) {
    sigaction(signal, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL) << signal;
  }
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);  // no child process at all
  sentry_shutdown();
  fs::current_path(before);
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

struct UnansweredCase {
  const char* Name;
  const char* Mode;
  bool HoldingHandler;  // else a handler that takes the channel and stays silent
  int Signal;
  seconds DeadBefore;

  friend void PrintTo(const UnansweredCase& crash, std::ostream* out) { *out << crash.Name; }
};

class UnansweredCrash : public ::testing::TestWithParam<UnansweredCase> {};

// The wait for the handler, and room for starting up on a loaded machine; far below "never".
const seconds kBound = seconds(kAcknowledgeTimeoutMs / 1000 + 4);

TEST_P(UnansweredCrash, TheProcessIsDeadWithinTheBound) {
  const testing::TempDir folder;
  const fs::path silent = folder.path() / "silent-handler";
  std::ofstream(silent) << "#!/bin/sh\nwhile kill -0 $PPID 2>/dev/null; do sleep 0.1; done\n";
  fs::permissions(silent, fs::perms::owner_all);
  const fs::path handler =
      GetParam().HoldingHandler ? BesideTests("corvantis_holding_crash_handler") : silent;
  RefusingPort down;
  const ProgramRun run = RunCrashProgram(
      folder.path(), {GetParam().Mode, LoopbackDsn(down.port()), "1000", handler.string()});
  ASSERT_TRUE(WIFSIGNALED(run.Status)) << run.Status;
  EXPECT_EQ(WTERMSIG(run.Status), GetParam().Signal);
  EXPECT_LT(run.UntilDeath, GetParam().DeadBefore);
  if (GetParam().HoldingHandler) {
    // The handler gave up on the dump, not on the report.
    const fs::path pending = folder.path() / ".sentry-native" / "pending";
    const auto files = testing::FileNames(pending);
    ASSERT_EQ(files.size(), 1U);
    const auto envelope = testing::ReadEnvelope(FileText(pending / files[0]));
    EXPECT_EQ(envelope.Event["level"], "fatal");
    EXPECT_EQ(envelope.Event["user"]["email"], "crash@example.org");
    EXPECT_EQ(envelope.Item("attachment"), nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, UnansweredCrash,
    ::testing::Values(
        // The handler's capture stops the process and never ends: the handler lets it go.
        UnansweredCase{"HeldByACaptureThatNeverEnds", "null-write", true, SIGSEGV, kBound},
        // The wait is interrupted every 300 ms, and each time resumes with what is left.
        UnansweredCase{"WaitInterruptedAgainAndAgain", "null-write-interrupted", false, SIGSEGV,
                       kBound},
        // A second signal on the reporting thread ends the process at once.
        UnansweredCase{"SecondSignalDuringTheReport", "null-write-then-abort", false, SIGABRT,
                       seconds(6)}),
    [](const auto& param) { return std::string(param.param.Name); });

// The child processes this thread started that are still running.
std::vector<pid_t> ChildProcesses() {
  std::ifstream in("/proc/self/task/" + std::to_string(gettid()) + "/children");
  std::vector<pid_t> pids;
  for (pid_t pid; in >> pid;) pids.push_back(pid);
  return pids;
}

// A neighbour swaps the database folder for a link to a folder of their own, with a forged event
// file in it, after the program started: the handler keeps to the folder the program opened.
TEST(CrashFiles, AFolderSwappedUnderTheHandlerGetsNeitherTheEventNorTheReport) {
  const testing::TempDir folder;
  const fs::path database = folder.path() / ".sentry-native";
  const fs::path neighbour = folder.path() / "neighbour";
  LoopbackServer server;
  server.RecordPosts("/api/42/envelope/");
  std::thread swapper([&] {
    const auto giveUp = steady_clock::now() + seconds(30);
    while (!fs::exists(folder.path() / "ready") && steady_clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::string pid = FileText(folder.path() / "ready");
    fs::create_directories(neighbour / "pending");
    fs::create_directories(neighbour / "aside");
    fs::permissions(neighbour, fs::perms::owner_all);
    std::ofstream(neighbour / ("crash-event-" + pid + ".json"))
        << R"({"user":{"email":"forged@example.org"},"message":"forged"})";
    fs::rename(database, folder.path() / "moved");
    fs::create_directory_symlink(neighbour, database);
    std::ofstream(folder.path() / "swapped") << "";
  });
  const ProgramRun run =
      RunCrashProgram(folder.path(), {"null-write-after-swap", LoopbackDsn(server.port())});
  swapper.join();
  ASSERT_TRUE(WIFSIGNALED(run.Status)) << run.Status;

  ASSERT_TRUE(server.WaitForRequests(1, seconds(10)));
  const auto envelope = testing::ReadEnvelope(server.Received().at(0).Body);
  EXPECT_EQ(envelope.Event["user"], Json({{"email", "crash@example.org"}}));
  EXPECT_FALSE(envelope.Event.contains("message"));
  // The handler read and removed the event file of the folder it was handed; the neighbour's
  // folder is as they left it.
  EXPECT_TRUE(testing::FileNames(folder.path() / "moved").empty());
  EXPECT_EQ(testing::FileNames(neighbour).size(), 1U);
  EXPECT_TRUE(fs::is_empty(neighbour / "pending"));
}

// Dumps planted beside the program under the debugger child's names: only the child's own is
// taken, and a huge one is never read.
TEST(DebuggerDump, OnlyARecentSingleLinkedRegularFileOfTheUsersWithinItsBoundIsTaken) {
  const testing::TempDir folder;
  const auto now = std::chrono::system_clock::now();
  const DebuggerDumpBounds bounds{geteuid(), 1 << 20, now - seconds(60), now + seconds(60)};
  const auto name = [](int counter) {
    return "prog-4242-DebugException-" + std::to_string(counter) + "-C0000005.dmp";
  };
  const auto plant = [&](int counter, const std::string& bytes) {
    const fs::path path = folder.path() / name(counter);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  };
  const auto age = [](const fs::path& path, std::chrono::seconds by) {
    fs::last_write_time(path, fs::last_write_time(path) + by);
  };
  plant(1, "MDMP the child's");
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  age(plant(2, "a forgery dated ahead"), std::chrono::hours(24));
  age(plant(3, "written before the run"), -std::chrono::hours(1));
  fs::create_symlink(folder.path() / name(1), folder.path() / name(4));
  plant(5, "hard linked");
  fs::create_hard_link(folder.path() / name(5), folder.path() / "elsewhere");
  ASSERT_EQ(chown(plant(6, "theirs").c_str(), 65534, 65534), 0);
  fs::resize_file(plant(7, ""), std::uintmax_t{8} << 30);  // sparse: 8 GiB
  ASSERT_EQ(mkfifo((folder.path() / name(8)).c_str(), 0600), 0);
  plant(9, "another process's");
  fs::rename(folder.path() / name(9), folder.path() / "prog-4243-DebugException-9-C0000005.dmp");

  EXPECT_EQ(ReadDebuggerDump(folder.path(), "prog", 4242, bounds), "MDMP the child's");
  fs::remove(folder.path() / name(1));
  EXPECT_EQ(ReadDebuggerDump(folder.path(), "prog", 4242, bounds), std::nullopt);

  const auto started = ProcessStartTime(getpid());
  ASSERT_TRUE(started.has_value());
  EXPECT_LE(*started, std::chrono::system_clock::now());
  EXPECT_GT(*started, std::chrono::system_clock::now() - std::chrono::hours(1));
}

// In this process: the crash handler runs beside it from here on. Keep it last.
TEST(CrashFiles, PlantedLinksAreNeverFollowedAndAnUntrustedFolderIsRefused) {
  const testing::TempDir folder;
  const fs::path decoy = folder.path() / "decoy";
  const fs::path decoyFolder = folder.path() / "decoy-folder";
  std::ofstream(decoy) << "decoy";
  fs::create_directory(decoyFolder);
  const std::string dsn = "http://0123456789abcdef@127.0.0.1:9/42";
  const auto sender = std::make_shared<fakes::FakeHttpSender>();
  sender->FailNext(1000);
  const auto init = [&](const fs::path& database) {
    ClientDependencies dependencies;
    dependencies.Sender = sender;
    dependencies.Os = std::make_shared<testing::FakeOsInfoSource>();
    dependencies.Database = database;
    dependencies.CrashHandler = BesideTests("corvantis_crash_handler");
    sentry_options_t* options = sentry_options_new();
    sentry_options_set_dsn(options, dsn.c_str());
    EXPECT_EQ(InitWithDependencies(options, dependencies), 0);
    sentry_set_tag("k", "v");
    sentry_capture_event(sentry_value_new_message_event(SENTRY_LEVEL_INFO, nullptr, "kept"));
  };

  struct Untrusted {
    std::string Name;
    std::function<void(const fs::path&)> Make;
    std::string Shown;  // relative to the database folder
    std::string Why;
  };
  const std::vector<Untrusted> refused = {
      {"link", [&](const fs::path& db) { fs::create_directory_symlink(decoyFolder, db); }, "",
       "is a symbolic link"},
      {"file", [](const fs::path& db) { std::ofstream(db) << "x"; }, "", "is not a folder"},
      {"group-writable",
       [](const fs::path& db) {
         fs::create_directory(db);
         fs::permissions(db, fs::perms::owner_all | fs::perms::group_all);
       },
       "", "can be written by group or others"},
      {"foreign",
       [](const fs::path& db) {
         fs::create_directory(db);
         fs::permissions(db, fs::perms::owner_all);
         EXPECT_EQ(chown(db.c_str(), geteuid() == 0 ? 65534 : 0, static_cast<gid_t>(-1)), 0);
       },
       "", "belongs to another user"},
      {"pending-link",
       [&](const fs::path& db) {
         fs::create_directory(db);
         fs::permissions(db, fs::perms::owner_all);
         fs::create_directory_symlink(decoyFolder, db / "pending");
       },
       "/pending", "is a symbolic link"},
  };
  for (const Untrusted& untrusted : refused) {
    SCOPED_TRACE(untrusted.Name);
    const fs::path database = folder.path() / untrusted.Name;
    untrusted.Make(database);
    ::testing::internal::CaptureStderr();
    init(database);
    EXPECT_TRUE(ChildProcesses().empty());  // no handler: crash capture is off
    sentry_shutdown();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Crash reports are off for this run: " + database.string() + untrusted.Shown + " " +
                  untrusted.Why + "\n");
    EXPECT_TRUE(fs::is_empty(decoyFolder));
  }

  // A folder of our own, with a link planted at the crash event file's name (its temporary's is
  // random); made with no umask, so that the modes are the client's own.
  const fs::path database = folder.path() / ".sentry-native";
  fs::create_directory(database);
  fs::permissions(database, fs::perms::owner_all);
  const std::string eventFile = "crash-event-" + std::to_string(getpid()) + ".json";
  fs::create_symlink(decoy, database / eventFile);
  // A descriptor the program holds without close-on-exec, as a caller's pipe can be.
  int leaked[2];
  ASSERT_EQ(pipe(leaked), 0);
  for (int& end : leaked) {
    // Above the numbers the handler's own descriptors take.
    const int high = fcntl(end, F_DUPFD, 10);
    close(end);
    end = high;
  }
  const std::string leakedPipe = fs::read_symlink("/proc/self/fd/" + std::to_string(leaked[0]));
  const mode_t umaskBefore = umask(0);
  init(database);
  const std::vector<pid_t> handlers = ChildProcesses();
  umask(umaskBefore);
  close(leaked[0]);
  close(leaked[1]);
  ASSERT_EQ(handlers.size(), 1U);
  // The handler holds the folder the program opened, and nothing of the program's but that.
  const fs::path handlerFds = "/proc/" + std::to_string(handlers[0]) + "/fd";
  EXPECT_EQ(fs::read_symlink(handlerFds / "4"), database);
  for (const auto& fd : fs::directory_iterator(handlerFds)) {
    std::error_code gone;
    EXPECT_NE(fs::read_symlink(fd.path(), gone).string(), leakedPipe) << fd.path();
  }
  // The DSN (with its key) reaches the handler over its channel, never where `ps` shows it.
  EXPECT_EQ(FileText("/proc/" + std::to_string(handlers[0]) + "/cmdline").find("0123456789abcdef"),
            std::string::npos);
  EXPECT_EQ(fs::symlink_status(database / eventFile).type(), fs::file_type::regular);
  EXPECT_NE(FileText(database / eventFile).find("\"k\":\"v\""), std::string::npos);
  ExpectOnlyPrivateEntries(database);
  sentry_shutdown();
  EXPECT_EQ(testing::FileNames(database / "pending").size(), 1U);  // "kept", not sent
  ExpectOnlyPrivateEntries(database);
  EXPECT_EQ(FileText(decoy), "decoy");
  EXPECT_TRUE(fs::is_empty(decoyFolder));
}

}  // namespace
}  // namespace corvantis::sentry
