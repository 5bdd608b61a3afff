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
    steps.push_back("capture " + std::to_string(request.tid));
  }
  void CaptureTimedOut(const CrashRequest&) override { steps.push_back("timed out"); }
  void Deliver() override { steps.push_back("deliver"); }
  std::vector<std::string> steps;
};

struct Channel {
  Channel() {
    int ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    client.reset(ends[0]);
    handler.reset(ends[1]);
  }
  // Sends and returns whether the acknowledgement came.
  bool Send(const void* bytes, size_t size) {
    EXPECT_EQ(send(client.get(), bytes, size, 0), static_cast<ssize_t>(size));
    unsigned char ack = 0;
    return recv(client.get(), &ack, 1, 0) == 1 && ack == kCrashAcknowledged;
  }
  unique_fd client;
  unique_fd handler;
};

std::unique_ptr<CrashRequest> Request(pid_t pid, pid_t tid) {
  auto request = std::make_unique<CrashRequest>();
  request->magic = CrashRequest::kMagic;
  request->version = CrashRequest::kVersion;
  request->pid = pid;
  request->tid = tid;
  request->signal = SIGSEGV;
  return request;
}

TEST(CrashServer, AcknowledgesEverythingButReportsOnlyItsClientsCrashOnce) {
  Channel channel;
  RecordingDelegate delegate;
  auto served = std::async(std::launch::async,
                           [&] { return ServeCrashChannel(channel.handler.get(), 100, delegate); });
  // A forked child of the client, a short message and a foreign one: each answered, none reported.
  EXPECT_TRUE(channel.Send(Request(101, 101).get(), sizeof(CrashRequest)));
  EXPECT_TRUE(channel.Send("hello", 5));
  auto foreign = Request(100, 100);
  foreign->magic = 0;
  EXPECT_TRUE(channel.Send(foreign.get(), sizeof(CrashRequest)));
  EXPECT_TRUE(channel.Send(Request(100, 107).get(), sizeof(CrashRequest)));
  EXPECT_EQ(served.get(), ServeResult::kHandled);
  EXPECT_EQ(delegate.steps, (std::vector<std::string>{"capture 107", "deliver"}));
}

TEST(CrashServer, EndsQuietlyWhenTheClientGoesAway) {
  Channel channel;
  RecordingDelegate delegate;
  channel.client.reset();
  EXPECT_EQ(ServeCrashChannel(channel.handler.get(), 100, delegate), ServeResult::kClosed);
  EXPECT_TRUE(delegate.steps.empty());
}

TEST(CrashEvent, TemplateAndSignalMakeTheFatalEvent) {
  const auto request = Request(100, 100);
  request->info.si_code = SEGV_MAPERR;
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
  request->signal = 64;
  const Json bare = BuildCrashEvent(nullptr, *request);
  EXPECT_EQ(bare["level"], "fatal");
  EXPECT_EQ(bare["platform"], "native");
  EXPECT_EQ(bare["exception"]["values"][0]["type"], "signal 64");
}

}  // namespace
}  // namespace corvantis::sentry
