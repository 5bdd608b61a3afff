#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>

#include "platform/console.h"
#include "platform/http/curl_http_sender.h"
#include "sentry/sentry.h"
#include "sentry/shell.h"
#include "submit/destinations/built_in_destinations.h"
#include "submit/results_submission.h"
#include "tests/fakes/fake_http_sender.h"
#include "tests/http/loopback_server.h"

namespace corvantis {

namespace {

namespace http = corvantis::http;

std::string g_base;
std::string Base() { return g_base; }

class SubmissionTest : public ::testing::Test {
 protected:
  SubmissionTest() : redirect_(console) {
    corvantis::sentry::ClientDependencies dependencies;
    dependencies.Sender = events;
    sentry_options_t* options = sentry_options_new();
    sentry_options_set_dsn(options, "http://0123456789abcdef0123456789abcdef@events.invalid/42");
    corvantis::sentry::InitWithDependencies(options, dependencies);
    g_base = "https://chat.invalid/bot123";
  }
  ~SubmissionTest() override { sentry_shutdown(); }
  // The captured event's message, after the client has sent it.
  std::string CapturedMessage() {
    sentry_shutdown();
    const auto sent = events->Sent();
    if (sent.size() != 1) return "<" + std::to_string(sent.size()) + " events>";
    const std::string& envelope = sent[0].Body;
    const auto eventLine = envelope.substr(envelope.find('\n', envelope.find('\n') + 1) + 1);
    const auto event = nlohmann::json::parse(eventLine);
    EXPECT_EQ(event["level"], "info");
    return event["message"]["formatted"];
  }

  StringConsole console;
  ScopedConsoleRedirect redirect_;
  std::shared_ptr<fakes::FakeHttpSender> events = std::make_shared<fakes::FakeHttpSender>();
  fakes::FakeHttpSender chat;
  std::wstring resultsText;
};

TEST_F(SubmissionTest, PostsTheTwoMembersAndCapturesTheText) {
  resultsText = L"Radeon (Corvantis)\n\nAVC; AMF 1.4.18.0\n\n640x360@144\t2.10\n\u00e9\"\n";
  SubmitResults(resultsText, chat, ChatEndpoint{&Base, 987654321012});
  EXPECT_EQ(console.Text(), L"Finalizing... results submitted\n");
  const auto requests = chat.Sent();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Url, "https://chat.invalid/bot123/sendMessage");
  EXPECT_EQ(requests[0].Method, "POST");
  ASSERT_EQ(requests[0].Headers.size(), 1u);
  EXPECT_EQ(requests[0].Headers[0],
            (std::pair<std::string, std::string>{"Content-Type", "application/json"}));
  EXPECT_EQ(requests[0].Body,
            "{\"chat_id\":987654321012,\"text\":\"Radeon (Corvantis)\\n\\nAVC; AMF 1.4.18.0\\n\\n"
            "640x360@144\\t2.10\\n\xc3\xa9\\\"\\n\"}");
  EXPECT_GT(requests[0].TotalTimeoutMs, 0);
  EXPECT_GT(requests[0].ConnectTimeoutMs, 0);
  EXPECT_EQ(CapturedMessage(),
            "Radeon (Corvantis)\n\nAVC; AMF 1.4.18.0\n\n640x360@144\t2.10\n\xc3\xa9\"\n");
}

// On a terminal "Finalizing..." must show while the requests wait, not only with the line's end.
// An empty text is still posted and captured.
TEST_F(SubmissionTest, FinalizingIsFlushedBeforeTheRequestWaits) {
  std::wstring shown;
  int flushes = -1;
  chat.OnSend([&] {
    shown = console.Text();
    flushes = console.Flushes();
  });
  SubmitResults(resultsText, chat, ChatEndpoint{&Base, 1});
  EXPECT_EQ(shown, L"Finalizing...");
  EXPECT_EQ(flushes, 1);
  ASSERT_EQ(chat.Sent().size(), 1u);
  EXPECT_EQ(chat.Sent()[0].Body, "{\"chat_id\":1,\"text\":\"\"}");
  EXPECT_EQ(CapturedMessage(), "");
}

TEST_F(SubmissionTest, FailuresAreSwallowed) {
  for (long status : {400L, 500L, 302L}) {
    fakes::FakeHttpSender sender;
    sender.AnswerWith(status);
    StringConsole c;
    ScopedConsoleRedirect r(c);
    SubmitResults(resultsText, sender, ChatEndpoint{&Base, 1});
    EXPECT_EQ(c.Text(), L"Finalizing... results submitted\n") << status;
  }
  fakes::FakeHttpSender refusing;
  refusing.FailNext(1);
  SubmitResults(resultsText, refusing, ChatEndpoint{&Base, 1});
  EXPECT_EQ(console.Text(), L"Finalizing... results submitted\n");
}

// Neither a text that cannot be converted nor a missing endpoint sends anything.
TEST_F(SubmissionTest, UnconvertibleTextOrNoEndpointSendsNothing) {
  resultsText = std::wstring(1, static_cast<wchar_t>(0xD800));
  SubmitResults(resultsText, chat, ChatEndpoint{&Base, 1});
  EXPECT_EQ(CapturedMessage(), "<0 events>");
  g_base.clear();
  SubmitResults(L"", chat, ChatEndpoint{&Base, 1});
  EXPECT_EQ(console.Text(), L"Finalizing... results submitted\nFinalizing... results submitted\n");
  EXPECT_TRUE(chat.Sent().empty());
}

TEST_F(SubmissionTest, RealEndpointsThatFailOrHang) {
  corvantis::testing::LoopbackServer server;
  server.server().Post("/ok/sendMessage", [&](const httplib::Request& req, httplib::Response& res) {
    server.Record(req);
    res.status = 200;
  });
  server.server().Post("/bad/sendMessage",
                       [&](const httplib::Request& req, httplib::Response& res) {
                         server.Record(req);
                         res.status = 500;
                       });
  server.HoldPosts("/hang/sendMessage");
  corvantis::testing::RefusingPort refusing;
  http::CurlHttpSender sender;

  for (std::string base : {server.Url("/ok"), server.Url("/bad"), server.Url("/hang"),
                           "http://127.0.0.1:" + std::to_string(refusing.port()),
                           std::string("not a url"), std::string("http://[::1")}) {
    g_base = base;
    StringConsole c;
    ScopedConsoleRedirect r(c);
    const auto start = std::chrono::steady_clock::now();
    ChatEndpoint endpoint{&Base, 42};
    endpoint.ConnectTimeoutMs = 500;
    endpoint.TotalTimeoutMs = 800;
    SubmitResults(resultsText, sender, endpoint);
    EXPECT_EQ(c.Text(), L"Finalizing... results submitted\n") << base;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << base;
  }
  server.ReleaseHeldRequests();
  const auto received = server.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].Body, "{\"chat_id\":42,\"text\":\"\"}");
  EXPECT_EQ(received[0].Headers.find("Content-Type")->second, "application/json");
}

TEST(ChatEndpointConfig, BuiltInAddressIsDecipheredOnlyOnRequest) {
  const ChatEndpoint endpoint = BuiltInChatEndpoint();
  ASSERT_NE(endpoint.BaseAddress, nullptr);
  EXPECT_EQ(endpoint.BaseAddress(), CORVANTIS_TEST_CHAT_BASE_URL);
  EXPECT_EQ(endpoint.ConnectTimeoutMs, 10000);
  EXPECT_EQ(endpoint.TotalTimeoutMs, 30000);
}

}  // namespace

}  // namespace corvantis
