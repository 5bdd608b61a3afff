#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "sentry/sentry.h"
#include "sentry/shell.h"
#include "tests/fakes/fake_http_sender.h"
#include "tests/sentry/envelope_reader.h"
#include "tests/sentry/fakes.h"

namespace corvantis::sentry {
namespace {

using fakes::FakeHttpSender;
using std::chrono::milliseconds;
using std::chrono::seconds;
using testing::FakeOsInfoSource;
using testing::ReadEnvelope;

constexpr const char* kDsn = "https://abc123@o1.ingest.example:8443/prefix/path/42";
const std::regex kTimestamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");

std::string Hex(const sentry_uuid_t& uuid) {
  char text[37];
  sentry_uuid_as_string(&uuid, text);
  std::string hex;
  for (const char c : std::string(text)) {
    if (c != '-') hex.push_back(c);
  }
  return hex;
}

bool IsNil(sentry_uuid_t uuid) { return sentry_uuid_is_nil(&uuid) != 0; }

class SentryClient : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearScope();
    dependencies_.Sender = sender_;
    dependencies_.Os = std::make_shared<FakeOsInfoSource>();
  }
  void TearDown() override {
    sender_->Release();
    sentry_shutdown();
  }

  int Init(const char* dsn, const char* release = nullptr) {
    sentry_options_t* options = sentry_options_new();
    sentry_options_set_dsn(options, dsn);
    if (release != nullptr) sentry_options_set_release(options, release);
    return InitWithDependencies(options, dependencies_);
  }
  static sentry_uuid_t CaptureMessage(const char* text) {
    return sentry_capture_event(sentry_value_new_message_event(SENTRY_LEVEL_INFO, nullptr, text));
  }
  static void SetUserEmail(const char* email) {
    const sentry_value_t user = sentry_value_new_object();
    sentry_value_set_by_key(user, "email", sentry_value_new_string(email));
    sentry_set_user(user);
  }

  std::shared_ptr<FakeHttpSender> sender_ = std::make_shared<FakeHttpSender>();
  ClientDependencies dependencies_;
};

TEST_F(SentryClient, PostsEnvelopeToTheDsnEndpointWithAuth) {
  ASSERT_EQ(Init(kDsn), 0);
  CaptureMessage("results");
  ASSERT_TRUE(sender_->WaitForRequests(1));
  EXPECT_EQ(sentry_shutdown(), 0);

  const auto sent = sender_->Sent();
  ASSERT_EQ(sent.size(), 1U);
  EXPECT_EQ(sent[0].Url, "https://o1.ingest.example:8443/prefix/path/api/42/envelope/");
  EXPECT_EQ(sent[0].Method, "POST");
  EXPECT_EQ(
      sent[0].Headers,
      (FakeHttpSender::Headers{
          {"Content-Type", "application/x-sentry-envelope"},
          {"X-Sentry-Auth",
           "Sentry sentry_version=7, sentry_client=corvantis.sentry/0.3.1, sentry_key=abc123"},
          {"User-Agent", "corvantis.sentry/0.3.1"}}));
  EXPECT_EQ(sent[0].ConnectTimeoutMs, 5000);
  EXPECT_EQ(sent[0].TotalTimeoutMs, 10000);
  EXPECT_NE(sent[0].Cancel, nullptr);
}

TEST_F(SentryClient, EnvelopeReadsBackAsHeaderItemAndEvent) {
  ASSERT_EQ(Init(kDsn), 0);
  // Multi-byte text: the item length must count bytes, not characters.
  const std::string text = "AVC\n\n640x360@144 \xE2\x9C\x93 1.23 ms\t\"quoted\"";
  const sentry_uuid_t id = CaptureMessage(text.c_str());
  ASSERT_TRUE(sender_->WaitForRequests(1));
  sentry_shutdown();

  const auto envelope = ReadEnvelope(sender_->Sent().at(0).Body);
  EXPECT_EQ(envelope.Header["event_id"], Hex(id));
  EXPECT_EQ(envelope.Header["dsn"], kDsn);
  EXPECT_TRUE(std::regex_match(envelope.Header["sent_at"].get<std::string>(), kTimestamp));
  ASSERT_EQ(envelope.Items.size(), 1U);
  EXPECT_EQ(envelope.Items[0].Header["type"], "event");
  EXPECT_EQ(envelope.Event["event_id"], Hex(id));
  EXPECT_EQ(envelope.Event["message"]["formatted"], text);
}

TEST_F(SentryClient, EventCarriesScopeAndClientFacts) {
  ASSERT_EQ(Init(kDsn), 0);
  SetUserEmail("user@example.com");
  sentry_set_tag("amf_version", "1.4.18.0");
  sentry_set_tag("dxgi_adapter_vendor_id", "0x1002");
  sentry_set_tag("amf_version", "1.4.19.0");
  const sentry_value_t crumb = sentry_value_new_breadcrumb("default", "amf");
  sentry_value_set_by_key(crumb, "category", sentry_value_new_string("hardware"));
  sentry_add_breadcrumb(crumb);
  CaptureMessage("results");
  ASSERT_TRUE(sender_->WaitForRequests(1));
  sentry_shutdown();

  const Json event = ReadEnvelope(sender_->Sent().at(0).Body).Event;
  EXPECT_EQ(event["level"], "info");
  EXPECT_EQ(event["platform"], "native");
  EXPECT_FALSE(event.contains("logger"));
  EXPECT_FALSE(event.contains("release"));
  EXPECT_TRUE(std::regex_match(event["timestamp"].get<std::string>(), kTimestamp));
  EXPECT_EQ(event["sdk"], Json({{"name", "corvantis.sentry"}, {"version", "0.3.1"}}));
  EXPECT_EQ(event["contexts"]["os"], Json({{"name", "Linux"},
                                           {"version", "6.1.0"},
                                           {"build", "#1 SMP Test"},
                                           {"kernel_version", "6.1.0-test"}}));
  EXPECT_EQ(event["user"], Json({{"email", "user@example.com"}}));
  EXPECT_EQ(event["tags"],
            Json({{"amf_version", "1.4.19.0"}, {"dxgi_adapter_vendor_id", "0x1002"}}));
  ASSERT_EQ(event["breadcrumbs"]["values"].size(), 1U);
  EXPECT_EQ(event["breadcrumbs"]["values"][0]["category"], "hardware");
  EXPECT_EQ(event["breadcrumbs"]["values"][0]["message"], "amf");
}

TEST_F(SentryClient, EventsOwnFieldsWinOverScopeAndReleaseIsAddedWhenConfigured) {
  ASSERT_EQ(Init(kDsn, "corvantis@0.1.0"), 0);
  SetUserEmail("scope@example.com");
  sentry_set_tag("shared", "from scope");
  sentry_set_tag("scope_only", "1");
  const sentry_value_t event = sentry_value_new_event();
  sentry_value_set_by_key(event, "event_id",
                          sentry_value_new_string("0123ABCD-4567-489A-8BCD-EF0123456789"));
  const sentry_value_t tags = sentry_value_new_object();
  sentry_value_set_by_key(tags, "shared", sentry_value_new_string("from event"));
  sentry_value_set_by_key(event, "tags", tags);
  const sentry_value_t user = sentry_value_new_object();
  sentry_value_set_by_key(user, "id", sentry_value_new_string("event user"));
  sentry_value_set_by_key(event, "user", user);

  const sentry_uuid_t id = sentry_capture_event(event);
  EXPECT_EQ(Hex(id), "0123abcd4567489a8bcdef0123456789");
  ASSERT_TRUE(sender_->WaitForRequests(1));
  sentry_shutdown();

  const Json sent = ReadEnvelope(sender_->Sent().at(0).Body).Event;
  EXPECT_EQ(sent["event_id"], "0123abcd4567489a8bcdef0123456789");
  EXPECT_EQ(sent["release"], "corvantis@0.1.0");
  EXPECT_EQ(sent["tags"], Json({{"shared", "from event"}, {"scope_only", "1"}}));
  EXPECT_EQ(sent["user"], Json({{"id", "event user"}}));
}

TEST_F(SentryClient, EventsWithoutATimeAreStampedByTheClientsClockAndNonUtf8TextIsStillSent) {
  dependencies_.Clock = [] {
    return std::chrono::system_clock::time_point{std::chrono::milliseconds(1700000000123)};
  };
  ASSERT_EQ(Init(kDsn), 0);
  sentry_capture_event(sentry_value_new_object());
  sentry_set_tag("adapter", "bad \xFF byte");
  CaptureMessage("caf\xE9");
  ASSERT_TRUE(sender_->WaitForRequests(2));
  sentry_shutdown();

  EXPECT_EQ(ReadEnvelope(sender_->Sent().at(0).Body).Event["timestamp"],
            "2023-11-14T22:13:20.123Z");
  const Json event = ReadEnvelope(sender_->Sent().at(1).Body).Event;
  EXPECT_EQ(event["message"]["formatted"], "caf\xEF\xBF\xBD");
  EXPECT_EQ(event["tags"]["adapter"], "bad \xEF\xBF\xBD byte");
}

TEST_F(SentryClient, NothingIsSentWithoutAUsableDsn) {
  for (const char* dsn : {"", "not a dsn", "https://host.example/42", "https://key@host/"}) {
    SCOPED_TRACE(dsn);
    EXPECT_EQ(Init(dsn), 0);
    sentry_set_tag("k", "v");
    EXPECT_FALSE(IsNil(CaptureMessage("x")));
    EXPECT_EQ(sentry_shutdown(), 0);
  }
  EXPECT_TRUE(IsNil(CaptureMessage("x")));
  EXPECT_TRUE(sentry_init(nullptr) != 0);
  EXPECT_TRUE(sender_->Sent().empty());
}

TEST_F(SentryClient, TransportFailuresAreDroppedQuietly) {
  ASSERT_EQ(Init(kDsn), 0);
  sender_->FailNext(2);
  CaptureMessage("a");
  CaptureMessage("b");
  CaptureMessage("c");
  ASSERT_TRUE(sender_->WaitForRequests(3));
  sender_->AnswerWith(429);
  CaptureMessage("d");
  ASSERT_TRUE(sender_->WaitForRequests(4));
  // A 429 without Retry-After or X-Sentry-Rate-Limits still stops sending (for 60 s).
  CaptureMessage("e");
  EXPECT_EQ(sentry_shutdown(), 0);

  const auto sent = sender_->Sent();
  ASSERT_EQ(sent.size(), 4U);
  EXPECT_EQ(ReadEnvelope(sent[2].Body).Event["message"]["formatted"], "c");
  EXPECT_EQ(ReadEnvelope(sent[3].Body).Event["message"]["formatted"], "d");
}

TEST_F(SentryClient, ShutdownCutsOffAHangingSendAndDropsTheRest) {
  dependencies_.ShutdownBudget = milliseconds(300);
  ASSERT_EQ(Init(kDsn), 0);
  sender_->Hold();
  CaptureMessage("hangs");
  ASSERT_TRUE(sender_->WaitForRequests(1));
  // Capturing goes on while the worker is stuck; beyond the queue's room events are dropped.
  for (int i = 0; i < 150; ++i) CaptureMessage("queued");

  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(sentry_shutdown(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(5));
  EXPECT_EQ(sender_->Sent().size(), 1U);
  EXPECT_TRUE(IsNil(CaptureMessage("late")));
}

TEST_F(SentryClient, InitAndShutdownRepeatedly) {
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Init(kDsn), 0);
    sentry_set_tag("round", std::to_string(i).c_str());
    CaptureMessage("x");
    ASSERT_EQ(sentry_shutdown(), 0);
  }
  // A second init replaces the running client without a shutdown in between.
  ASSERT_EQ(Init(kDsn), 0);
  ASSERT_EQ(Init("https://other@host.example/9"), 0);
  CaptureMessage("after re-init");
  sentry_shutdown();

  const auto sent = sender_->Sent();
  ASSERT_EQ(sent.size(), 41U);
  EXPECT_EQ(ReadEnvelope(sent[39].Body).Event["tags"]["round"], "39");
  EXPECT_EQ(sent[40].Url, "https://host.example/api/9/envelope/");
}

TEST_F(SentryClient, ScopeTagsReplaceByKey) {
  sentry_set_tag("amd_driver_version", "23.1");
  sentry_set_tag("amf_version", "1.4.18.0");
  sentry_set_tag("amf_version", "1.4.18.0");
  sentry_set_tag("amd_driver_version", "24.2");
  sentry_set_tag(nullptr, "ignored");
  sentry_set_tag("ignored", nullptr);
  EXPECT_EQ(ScopeSnapshot()["tags"],
            Json({{"amd_driver_version", "24.2"}, {"amf_version", "1.4.18.0"}}));
}

TEST_F(SentryClient, ScopeKeepsTheLastHundredBreadcrumbsInOrderWithTimestamps) {
  for (int i = 0; i < 105; ++i) {
    sentry_add_breadcrumb(sentry_value_new_breadcrumb("default", std::to_string(i).c_str()));
  }
  const sentry_value_t stamped = sentry_value_new_object();
  sentry_value_set_by_key(stamped, "timestamp",
                          sentry_value_new_string("2020-01-01T00:00:00.000Z"));
  sentry_add_breadcrumb(stamped);
  const sentry_value_t unstamped = sentry_value_new_object();
  sentry_value_set_by_key(unstamped, "message", sentry_value_new_string("no time"));
  sentry_add_breadcrumb(unstamped);
  sentry_add_breadcrumb(sentry_value_new_string("not an object"));

  const Json crumbs = ScopeSnapshot()["breadcrumbs"];
  ASSERT_EQ(crumbs.size(), 100U);
  EXPECT_EQ(crumbs[0]["message"], "7");
  EXPECT_EQ(crumbs[97]["message"], "104");
  EXPECT_EQ(crumbs[98]["timestamp"], "2020-01-01T00:00:00.000Z");
  EXPECT_EQ(crumbs[99]["message"], "no time");
  for (const Json& crumb : crumbs) {
    EXPECT_TRUE(std::regex_match(crumb["timestamp"].get<std::string>(), kTimestamp));
  }
}

TEST_F(SentryClient, UserIsReplacedOrRemovedAndShutdownClearsTheScope) {
  SetUserEmail("first@example.com");
  SetUserEmail("second@example.com");
  EXPECT_EQ(ScopeSnapshot()["user"], Json({{"email", "second@example.com"}}));
  sentry_set_user(sentry_value_new_null());
  EXPECT_TRUE(ScopeSnapshot()["user"].is_null());

  sentry_set_tag("before_init", "kept");
  ASSERT_EQ(Init(kDsn), 0);
  EXPECT_EQ(ScopeSnapshot()["tags"], Json({{"before_init", "kept"}}));
  SetUserEmail("user@example.com");
  sentry_set_tag("k", "v");
  sentry_add_breadcrumb(sentry_value_new_breadcrumb("default", "amf"));
  sentry_shutdown();
  EXPECT_EQ(ScopeSnapshot(),
            Json({{"user", nullptr}, {"tags", Json::object()}, {"breadcrumbs", Json::array()}}));
}

}  // namespace
}  // namespace corvantis::sentry
