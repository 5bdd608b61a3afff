// Links the event client, sets a scope and crashes the way it is told:
//   crash_program <mode> <dsn> [total time limit ms [crash handler]]
// Run it in a folder of its own: the client's database is the default one there. It clears its
// umask, so that everything the client and its handler create must set its own modes.
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "sentry/sentry.h"
#include "sentry/shell.h"
#include "tests/fakes/fake_http_sender.h"

using namespace corvantis;

extern "C" void corvantis_overflow_on_library_thread();

namespace {

[[gnu::noinline]] void CrashByNullWrite() {
  volatile int* nowhere = nullptr;
  *nowhere = 42;
}

[[gnu::noinline]] void CrashByAbort() { std::abort(); }

[[gnu::noinline]] void CrashByUncaughtException() {
  throw std::runtime_error("nobody catches this");
}

[[gnu::noinline]] int OverflowTheStack(int depth) {
  volatile char frame[2048];
  frame[0] = static_cast<char>(depth);
  if (depth == 1 << 30) return frame[0];  // never reached: the stack ends long before
  return OverflowTheStack(depth + 1) + frame[0];
}

// While the main thread reports its crash, sends it `signal` every `everyMs`, `times` times.
void SignalMainThreadLater(int signal, int everyMs, int times) {
  const pid_t pid = getpid();
  const auto main = static_cast<pid_t>(syscall(SYS_gettid));
  std::thread([=] {
    for (int i = 0; i < times; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
      syscall(SYS_tgkill, pid, main, signal);
    }
  }).detach();
}

void SetScope() {
  const sentry_value_t user = sentry_value_new_object();
  sentry_value_set_by_key(user, "email", sentry_value_new_string("crash@example.org"));
  sentry_set_user(user);
  sentry_set_tag("amf_version", "1.4.18.0");
  sentry_set_tag("dxgi_adapter_vendor_id", "0x1002");
  const sentry_value_t crumb = sentry_value_new_breadcrumb("default", "amf");
  sentry_value_set_by_key(crumb, "category", sentry_value_new_string("hardware"));
  sentry_add_breadcrumb(crumb);
  sentry_add_breadcrumb(sentry_value_new_breadcrumb("default", "last step before the crash"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  umask(0);
  const std::string mode = argv[1];
  corvantis::sentry::ClientDependencies dependencies = corvantis::sentry::ProductionDependencies();
  if (argc > 3) dependencies.TransportLimits.TotalTimeoutMs = std::atol(argv[3]);
  if (argc > 4) dependencies.CrashHandler = argv[4];
  if (mode == "overflow-on-sending-thread") {
    // Overflows the stack of the client's own sending thread.
    auto sender = std::make_shared<fakes::FakeHttpSender>();
    sender->OnSend([] { OverflowTheStack(0); });
    dependencies.Sender = sender;
  }
  sentry_options_t* options = sentry_options_new();
  sentry_options_set_dsn(options, argv[2]);
  corvantis::sentry::InitWithDependencies(options, dependencies);
  SetScope();
  if (mode == "null-write") CrashByNullWrite();
  if (mode == "abort") CrashByAbort();
  if (mode == "uncaught-exception") CrashByUncaughtException();
  if (mode == "overflow-on-library-thread") corvantis_overflow_on_library_thread();
  if (mode == "overflow-on-sending-thread") {
    sentry_capture_event(sentry_value_new_message_event(SENTRY_LEVEL_INFO, nullptr, "overflow"));
    std::this_thread::sleep_for(std::chrono::seconds(30));
  }
  if (mode == "null-write-interrupted") {
    // A signal handler of the program's own interrupts the wait for the handler, again and again.
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigaction(SIGUSR1, &action, nullptr);
    SignalMainThreadLater(SIGUSR1, 300, 100);
    CrashByNullWrite();
  }
  if (mode == "null-write-after-swap") {
    // Tells the test its pid, then crashes once the test has swapped the database folder.
    std::FILE* ready = std::fopen("ready.tmp", "w");
    if (ready == nullptr) return 3;
    std::fprintf(ready, "%d", static_cast<int>(getpid()));
    std::fclose(ready);
    std::rename("ready.tmp", "ready");
    for (int i = 0; i < 3000 && access("swapped", F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    CrashByNullWrite();
  }
  if (mode == "null-write-then-abort") {
    SignalMainThreadLater(SIGABRT, 1000, 1);
    CrashByNullWrite();
  }
  sentry_shutdown();
  std::puts("no crash");
  return 0;
}
