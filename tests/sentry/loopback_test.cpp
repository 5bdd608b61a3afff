#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "sentry/os_info_linux.h"
#include "sentry/sentry.h"
#include "sentry/shell.h"
#include "tests/http/loopback_server.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/temp_dir.h"

namespace corvantis::sentry {
namespace {

using corvantis::testing::LoopbackServer;
using corvantis::testing::RefusingPort;

class SentryOverLoopback : public ::testing::Test {
 protected:
  void SetUp() override { ClearScope(); }
  void TearDown() override { sentry_shutdown(); }

  // The shipped dependencies, with the database in a folder of the test's own.
  void Init(const std::string& dsn) {
    ClientDependencies dependencies = ProductionDependencies();
    dependencies.Database = database_.path();
    dependencies.CrashHandler.clear();
    sentry_options_t* options = sentry_options_new();
    sentry_options_set_dsn(options, dsn.c_str());
    ASSERT_EQ(InitWithDependencies(options, dependencies), 0);
  }
  std::vector<std::string> Pending() const {
    return testing::FileNames(database_.path() / "pending");
  }
  std::vector<std::string> Aside() const { return testing::FileNames(database_.path() / "aside"); }

  testing::TempDir database_;
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
  EXPECT_EQ(received[0].Headers.find("Content-Type")->second, "application/x-sentry-envelope");
  EXPECT_EQ(received[0].Headers.find("X-Sentry-Auth")->second,
            "Sentry sentry_version=7, sentry_client=corvantis.sentry/0.3.1, "
            "sentry_key=0123456789abcdef");
  const auto envelope = testing::ReadEnvelope(received[0].Body);
  EXPECT_EQ(envelope.Items.at(0).Header["type"], "event");
  EXPECT_EQ(envelope.Event["event_id"], envelope.Header["event_id"]);
  EXPECT_EQ(envelope.Event["message"]["formatted"], "AVC results\n640x360@144: 1.23");
  EXPECT_EQ(envelope.Event["tags"]["amf_version"], "1.4.18.0");
  EXPECT_EQ(envelope.Event["contexts"]["os"]["name"], "Linux");
}

TEST_F(SentryOverLoopback, ShutdownReturnsWithinItsBoundWhenTheServerHangsAndKeepsTheRest) {
  LoopbackServer loopback;
  loopback.HoldPosts("/api/1/envelope/");
  Init("http://key@127.0.0.1:" + std::to_string(loopback.port()) + "/1");
  CaptureMessage("first");
  ASSERT_TRUE(loopback.WaitForHeldRequest(std::chrono::seconds(10)));
  CaptureMessage("second");

  const auto start = std::chrono::steady_clock::now();
  // Nothing is lost: the one cut off and the one never tried wait in the database.
  EXPECT_EQ(sentry_shutdown(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(Pending().size(), 2U);
}

TEST_F(SentryOverLoopback, WhatCannotBeSentWaitsForTheNextStart) {
  {
    RefusingPort refusing;
    Init("http://key@127.0.0.1:" + std::to_string(refusing.port()) + "/1");
    CaptureMessage("nobody listens");
    CaptureMessage("still nobody");
    EXPECT_EQ(sentry_shutdown(), 0);
  }
  ASSERT_EQ(Pending().size(), 2U);
  std::ofstream(database_.path() / "pending" / "00000000000000000001-torn.envelope")
      << "{\"event_id\":\"0123\"}\n{\"type\":\"event\",\"length\":500}\n{";

  LoopbackServer loopback;
  loopback.RecordPosts("/api/1/envelope/");
  Init("http://key@127.0.0.1:" + std::to_string(loopback.port()) + "/1");
  ASSERT_TRUE(loopback.WaitForRequests(2, std::chrono::seconds(10)));
  EXPECT_EQ(sentry_shutdown(), 0);

  const auto received = loopback.Received();
  ASSERT_EQ(received.size(), 2U);
  EXPECT_EQ(testing::ReadEnvelope(received[0].Body).Event["message"]["formatted"],
            "nobody listens");
  EXPECT_EQ(testing::ReadEnvelope(received[1].Body).Event["message"]["formatted"], "still nobody");
  EXPECT_TRUE(Pending().empty());
  EXPECT_EQ(Aside(), std::vector<std::string>{"00000000000000000001-torn.envelope.corrupt"});
}

TEST_F(SentryOverLoopback, AfterA429NothingMoreIsPostedInThatRunAndEverythingIsKept) {
  {
    RefusingPort refusing;
    Init("http://key@127.0.0.1:" + std::to_string(refusing.port()) + "/1");
    for (const char* text : {"one", "two", "three"}) CaptureMessage(text);
    EXPECT_EQ(sentry_shutdown(), 0);
  }
  ASSERT_EQ(Pending().size(), 3U);

  LoopbackServer loopback;
  loopback.server().Post("/api/1/envelope/",
                         [&](const httplib::Request& req, httplib::Response& res) {
                           loopback.Record(req);
                           res.status = 429;
                           res.set_header("Retry-After", "3600");
                         });
  Init("http://key@127.0.0.1:" + std::to_string(loopback.port()) + "/1");
  ASSERT_TRUE(loopback.WaitForRequests(1, std::chrono::seconds(10)));
  CaptureMessage("four");
  EXPECT_EQ(sentry_shutdown(), 0);

  EXPECT_EQ(loopback.Received().size(), 1U);
  EXPECT_EQ(Pending().size(), 4U);
  EXPECT_TRUE(Aside().empty());
}

TEST_F(SentryOverLoopback, AFolderThatCannotBeMadeStillLetsEventsGo) {
  LoopbackServer loopback;
  loopback.RecordPosts("/api/1/envelope/");
  std::ofstream(database_.path() / "a file");
  ClientDependencies dependencies = ProductionDependencies();
  dependencies.Database = database_.path() / "a file" / "db";
  sentry_options_t* options = sentry_options_new();
  sentry_options_set_dsn(
      options, ("http://key@127.0.0.1:" + std::to_string(loopback.port()) + "/1").c_str());
  ASSERT_EQ(InitWithDependencies(options, dependencies), 0);
  CaptureMessage("sent anyway");
  EXPECT_EQ(sentry_shutdown(), 0);
  EXPECT_EQ(loopback.Received().size(), 1U);
}

TEST(LinuxOsInfo, ReportsTheRunningKernelsReleaseAndItsVersionNumber) {
  std::ifstream file("/proc/sys/kernel/osrelease");
  std::string release;
  std::getline(file, release);
  const OsInfo info = LinuxOsInfoSource().Read();
  EXPECT_EQ(info.Name, "Linux");
  EXPECT_EQ(info.KernelVersion, release);
  EXPECT_EQ(info.Version, KernelVersionNumber(release));
  EXPECT_FALSE(info.Build.empty());

  const std::pair<const char*, const char*> kNumbers[] = {{"6.1.0-18-amd64", "6.1.0"},
                                                          {"4.4.0-19041-Microsoft", "4.4.0"},
                                                          {"6.8.0-rc3+", "6.8.0"},
                                                          {"5.10", "5.10"},
                                                          {"5.15.0.1057-azure", "5.15.0"},
                                                          {"6.9.", "6.9"},
                                                          {"rolling", ""}};
  for (const auto& [given, number] : kNumbers)
    EXPECT_EQ(KernelVersionNumber(given), number) << given;
}

}  // namespace
}  // namespace corvantis::sentry
