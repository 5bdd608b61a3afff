#include "sentry/handler/crash_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <vector>

#include "platform/unique_fd.h"
#include "sentry/handler/crash_reporter.h"

namespace corvantis::sentry {
namespace {

class RecordingDelegate final : public CrashDelegate {
 public:
  void Capture(const CrashRequest& request) override {
    Steps.push_back("capture " + std::to_string(request.Tid));
  }
  void CaptureTimedOut(const CrashRequest&) override { Steps.push_back("timed out"); }
  void Deliver() override { Steps.push_back("deliver"); }
  std::vector<std::string> Steps;
};

struct Channel {
  Channel() {
    int ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    Client.reset(ends[0]);
    Handler.reset(ends[1]);
  }
  // Sends and returns whether the acknowledgement came.
  bool Send(const void* bytes, size_t size) {
    EXPECT_EQ(send(Client.get(), bytes, size, 0), static_cast<ssize_t>(size));
    unsigned char ack = 0;
    return recv(Client.get(), &ack, 1, 0) == 1 && ack == kCrashAcknowledged;
  }
  unique_fd Client;
  unique_fd Handler;
};

std::unique_ptr<CrashRequest> Request(pid_t pid, pid_t tid) {
  auto request = std::make_unique<CrashRequest>();
  request->Magic = CrashRequest::kMagic;
  request->Version = CrashRequest::kVersion;
  request->Pid = pid;
  request->Tid = tid;
  request->Signal = SIGSEGV;
  return request;
}

TEST(CrashServer, AcknowledgesEverythingButReportsOnlyItsClientsCrashOnce) {
  Channel channel;
  RecordingDelegate delegate;
  auto served = std::async(std::launch::async,
                           [&] { return ServeCrashChannel(channel.Handler.get(), 100, delegate); });
  // A forked child of the client, a short message and a foreign one: each answered, none reported.
  EXPECT_TRUE(channel.Send(Request(101, 101).get(), sizeof(CrashRequest)));
  EXPECT_TRUE(channel.Send("hello", 5));
  auto foreign = Request(100, 100);
  foreign->Magic = 0;
  EXPECT_TRUE(channel.Send(foreign.get(), sizeof(CrashRequest)));
  EXPECT_TRUE(channel.Send(Request(100, 107).get(), sizeof(CrashRequest)));
  EXPECT_EQ(served.get(), ServeResult::kHandled);
  EXPECT_EQ(delegate.Steps, (std::vector<std::string>{"capture 107", "deliver"}));

  // Once the client has gone, the server ends quietly.
  channel.Client.reset();
  EXPECT_EQ(ServeCrashChannel(channel.Handler.get(), 100, delegate), ServeResult::kClosed);
  EXPECT_EQ(delegate.Steps.size(), 2u);
}

TEST(CrashEvent, TemplateAndSignalMakeTheFatalEvent) {
  const auto request = Request(100, 100);
  request->Info.si_code = SEGV_MAPERR;
  Json scoped = {{"level", "info"},
                 {"event_id", "stale"},
                 {"user", {{"email", "a@b.c"}}},
                 {"tags", {{"k", "v"}}}};
  const Json event = BuildCrashEvent(scoped, *request);
  EXPECT_EQ(event["level"], "fatal");
  EXPECT_NE(event["event_id"], "stale");
  EXPECT_EQ(event["user"]["email"], "a@b.c");
  EXPECT_EQ(event["tags"]["k"], "v");
  EXPECT_EQ(event["exception"]["values"][0]["type"], "SIGSEGV");
  EXPECT_EQ(event["exception"]["values"][0]["mechanism"]["meta"]["signal"]["code"], SEGV_MAPERR);

  // An unreadable template still gives a fatal native event.
  request->Signal = 64;
  const Json bare = BuildCrashEvent(nullptr, *request);
  EXPECT_EQ(bare["level"], "fatal");
  EXPECT_EQ(bare["platform"], "native");
  EXPECT_EQ(bare["exception"]["values"][0]["type"], "signal 64");
}

}  // namespace
}  // namespace corvantis::sentry
