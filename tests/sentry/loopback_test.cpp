#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "platform/sentry/os_info_linux.h"
#include "platform/sentry/sentry.h"
#include "platform/sentry/sentry_testing.h"
#include "tests/http/loopback_server.h"
#include "tests/sentry/envelope_reader.h"

namespace corvantis::sentry {
namespace {

using corvantis::testing::LoopbackServer;
using corvantis::testing::RefusingPort;

class SentryOverLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetHooks();
    testing::ClearScope();
  }
  void TearDown() override { sentry_shutdown(); }

  static void Init(const std::string& dsn) {
    sentry_options_t* options = sentry_options_new();
    sentry_options_set_dsn(options, dsn.c_str());
    ASSERT_EQ(sentry_init(options), 0);
  }
  static void CaptureMessage(const char* text) {
    sentry_capture_event(sentry_value_new_message_event(SENTRY_LEVEL_INFO, nullptr, text));
  }
};

TEST_F(SentryOverLoopback, ServerReceivesAnEnvelopeItCanRead) {
  LoopbackServer loopback;
  loopback.server().Post("/relay/api/42/envelope/",
                         [&](const httplib::Request& req, httplib::Response& res) {
                           loopback.Record(req);
                           res.set_content(R"({"id":"x"})", "application/json");
                         });
  Init("http://0123456789abcdef@127.0.0.1:" + std::to_string(loopback.port()) + "/relay/42");
  sentry_set_tag("amf_version", "1.4.18.0");
  CaptureMessage("AVC results\n640x360@144: 1.23");
  EXPECT_EQ(sentry_shutdown(), 0);

  const auto received = loopback.Received();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received[0].headers.find("Content-Type")->second, "application/x-sentry-envelope");
  EXPECT_EQ(received[0].headers.find("X-Sentry-Auth")->second,
            "Sentry sentry_version=7, sentry_client=corvantis.sentry/0.3.1, "
            "sentry_key=0123456789abcdef");
  const auto envelope = testing::ReadEnvelope(received[0].body);
  EXPECT_EQ(envelope.itemHeader["type"], "event");
  EXPECT_EQ(envelope.event["event_id"], envelope.header["event_id"]);
  EXPECT_EQ(envelope.event["message"]["formatted"], "AVC results\n640x360@144: 1.23");
  EXPECT_EQ(envelope.event["tags"]["amf_version"], "1.4.18.0");
  EXPECT_EQ(envelope.event["contexts"]["os"]["name"], "Linux");
}

TEST_F(SentryOverLoopback, ShutdownReturnsWithinItsBoundWhenTheServerHangs) {
  LoopbackServer loopback;
  loopback.server().Post("/api/1/envelope/", [&](const httplib::Request&, httplib::Response&) {
    loopback.HoldUntilReleased();
  });
  Init("http://key@127.0.0.1:" + std::to_string(loopback.port()) + "/1");
  CaptureMessage("first");
  ASSERT_TRUE(loopback.WaitForHeldRequest(std::chrono::seconds(10)));
  CaptureMessage("second");

  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(sentry_shutdown(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST_F(SentryOverLoopback, RefusedConnectionIsDroppedQuietly) {
  RefusingPort refusing;
  Init("http://key@127.0.0.1:" + std::to_string(refusing.port()) + "/1");
  CaptureMessage("nobody listens");
  EXPECT_EQ(sentry_shutdown(), 0);
}

TEST(LinuxOsInfo, ReportsTheRunningKernel) {
  std::ifstream file("/proc/sys/kernel/osrelease");
  std::string release;
  std::getline(file, release);
  const OsInfo info = LinuxOsInfoSource().Read();
  EXPECT_EQ(info.name, "Linux");
  EXPECT_EQ(info.version, release);
  EXPECT_FALSE(info.build.empty());
}

}  // namespace
}  // namespace corvantis::sentry
