// The crash handler with a capture that stops the crashed process and never finishes, as one
// stuck on memory that never comes (a hung network file, say).
#include <chrono>
#include <thread>

#include "platform/ptrace_connection_linux.h"
#include "sentry/handler/crash_handler_process.h"

using namespace corvantis;

namespace {

class HoldingMinidumpSource final : public corvantis::sentry::MinidumpSource {
 public:
  std::optional<std::string> Write(const corvantis::sentry::CrashRequest& request) override {
    LinuxPtraceConnection target;
    if (target.Attach(request.Pid)) std::this_thread::sleep_for(std::chrono::seconds(60));
    return std::nullopt;
  }
};

}  // namespace

int main(int argc, char** argv) {
  HoldingMinidumpSource minidumps;
  return corvantis::sentry::RunCrashHandler(argc, argv, minidumps);
}
