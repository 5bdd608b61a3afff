// Links the event client, sets a scope and crashes the way it is told:
//   crash_program <null-write|abort|uncaught-exception|no-crash> <dsn> [total time limit ms]
// Run it in a folder of its own: the client's database is the default one there.
#include <cstdlib>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "sentry/sentry.h"
#include "sentry/shell.h"

namespace {

[[gnu::noinline]] void CrashByNullWrite() {
  volatile int* nowhere = nullptr;
  *nowhere = 42;
}

[[gnu::noinline]] void CrashByAbort() { std::abort(); }

[[gnu::noinline]] void CrashByUncaughtException() {
  throw std::runtime_error("nobody catches this");
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
  const std::string mode = argv[1];
  corvantis::sentry::ClientDependencies dependencies = corvantis::sentry::ProductionDependencies();
  if (argc > 3) dependencies.transportLimits.totalTimeoutMs = std::atol(argv[3]);
  sentry_options_t* options = sentry_options_new();
  sentry_options_set_dsn(options, argv[2]);
  corvantis::sentry::InitWithDependencies(options, dependencies);
  SetScope();
  if (mode == "null-write") CrashByNullWrite();
  if (mode == "abort") CrashByAbort();
  if (mode == "uncaught-exception") CrashByUncaughtException();
  sentry_shutdown();
  std::puts("no crash");
  return 0;
}
