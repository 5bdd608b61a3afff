#include "platform/http/curl_http_sender.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/http/loopback_server.h"

namespace corvantis::http {
namespace {

using corvantis::testing::LoopbackServer;
using corvantis::testing::RefusingPort;
using std::chrono::steady_clock;

HttpError::Reason SendExpectingError(const HttpRequest& request) {
  CurlHttpSender sender;
  try {
    sender.Send(request);
  } catch (const HttpError& error) {
    return error.reason();
  }
  ADD_FAILURE() << "no HttpError for " << request.url;
  return HttpError::Reason::kTransport;
}

class StatusTest : public ::testing::TestWithParam<int> {};

TEST_P(StatusTest, ReturnsTheServersStatusAndBody) {
  LoopbackServer loopback;
  const int status = GetParam();
  loopback.server().Post("/sendMessage", [&](const httplib::Request&, httplib::Response& res) {
    res.status = status;
    res.set_content("answer " + std::to_string(status), "text/plain");
  });
  CurlHttpSender sender;
  const HttpResponse response = sender.Send({.url = loopback.Url("/sendMessage"), .body = "{}"});
  EXPECT_EQ(response.status, status);
  EXPECT_EQ(response.body, "answer " + std::to_string(status));
}

INSTANTIATE_TEST_SUITE_P(CurlHttpSender, StatusTest, ::testing::Values(200, 400, 500));

TEST(CurlHttpSender, KeepsTheAnswersHeadersAndAtMost64KiBOfAnEndlessBody) {
  LoopbackServer loopback;
  loopback.server().Post("/endless", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Sentry-Rate-Limits", "60:error:key");
    res.set_header("X-Repeated", "a");
    res.set_header("X-Repeated", "b");
    // Streams until the client goes away.
    res.set_chunked_content_provider("application/octet-stream", [](size_t, httplib::DataSink& sink) {
      const std::string block(4096, 'x');
      return sink.write(block.data(), block.size());
    });
  });
  CurlHttpSender sender;
  const HttpResponse response =
      sender.Send({.url = loopback.Url("/endless"), .totalTimeoutMs = 10000});
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body.size(), kMaxResponseBodyBytes);
  EXPECT_EQ(response.Header("x-sentry-rate-limits"), "60:error:key");
  EXPECT_EQ(response.Header("X-REPEATED"), "a, b");
  EXPECT_FALSE(response.Header("Retry-After"));
}

TEST(CurlHttpSender, DeliversBodyAndHeadersExactly) {
  LoopbackServer loopback;
  loopback.server().Post("/in", [&](const httplib::Request& req, httplib::Response&) {
    loopback.Record(req);
  });
  // Large enough that libcurl would ask for "Expect: 100-continue" if left alone.
  std::string body = "{\"text\":\"line1\\nline2 \xC3\xA9\"}";
  body.append(2 * 1024 * 1024, 'x');
  body.push_back('\0');
  body.append("tail");

  CurlHttpSender sender;
  const HttpResponse response = sender.Send({.url = loopback.Url("/in"),
                                             .headers = {{"Content-Type", "application/json"},
                                                         {"X-Custom", "a, b;c"}},
                                             .body = body});

  EXPECT_EQ(response.status, 200);
  const auto received = loopback.Received();
  ASSERT_EQ(received.size(), 1U);
  const auto& req = received[0];
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.body, body);
  EXPECT_EQ(req.headers.count("Content-Type"), 1U);
  EXPECT_EQ(req.headers.find("Content-Type")->second, "application/json");
  EXPECT_EQ(req.headers.find("X-Custom")->second, "a, b;c");
  EXPECT_EQ(req.headers.count("Expect"), 0U);
}

TEST(CurlHttpSender, EmptyPostStillCarriesZeroLengthAndNoInventedContentType) {
  LoopbackServer loopback;
  loopback.server().Post("/empty", [&](const httplib::Request& req, httplib::Response&) {
    loopback.Record(req);
  });
  CurlHttpSender sender;
  EXPECT_EQ(sender.Send({.url = loopback.Url("/empty")}).status, 200);

  const auto received = loopback.Received();
  ASSERT_EQ(received.size(), 1U);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].body, "");
  ASSERT_EQ(received[0].headers.count("Content-Length"), 1U);
  EXPECT_EQ(received[0].headers.find("Content-Length")->second, "0");
  EXPECT_EQ(received[0].headers.count("Content-Type"), 0U);
}

TEST(CurlHttpSender, OtherMethodsUseTheirOwnVerb) {
  LoopbackServer loopback;
  const auto record = [&](const httplib::Request& req, httplib::Response&) { loopback.Record(req); };
  loopback.server().Get("/r", record);
  loopback.server().Put("/r", record);
  CurlHttpSender sender;
  EXPECT_EQ(sender.Send({.url = loopback.Url("/r"), .method = "GET"}).status, 200);
  EXPECT_EQ(sender.Send({.url = loopback.Url("/r"), .method = "PUT", .body = "put body"}).status,
            200);

  const auto received = loopback.Received();
  ASSERT_EQ(received.size(), 2U);
  EXPECT_EQ(received[0].method, "GET");
  EXPECT_EQ(received[1].method, "PUT");
  EXPECT_EQ(received[1].body, "put body");
}

TEST(CurlHttpSender, TransportFailuresThrowWithTheirReason) {
  RefusingPort refusing;
  EXPECT_EQ(SendExpectingError(
                {.url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x",
                 .connectTimeoutMs = 2000,
                 .totalTimeoutMs = 5000}),
            HttpError::Reason::kConnect);

  for (const char* url : {"", "http://[::1", "http://exa mple.invalid/", "ftp://127.0.0.1/x",
                          "file:///etc/hostname"}) {
    EXPECT_EQ(SendExpectingError({.url = url}), HttpError::Reason::kBadRequest) << url;
  }
}

TEST(CurlHttpSender, HeaderOrMethodWithLineBreakIsRefusedBeforeSending) {
  LoopbackServer loopback;
  loopback.server().Post("/in", [&](const httplib::Request& req, httplib::Response&) {
    loopback.Record(req);
  });
  EXPECT_EQ(SendExpectingError({.url = loopback.Url("/in"),
                                .headers = {{"X-Test", "a\r\nX-Injected: 1"}}}),
            HttpError::Reason::kBadRequest);
  EXPECT_EQ(SendExpectingError({.url = loopback.Url("/in"), .headers = {{"Bad Name", "v"}}}),
            HttpError::Reason::kBadRequest);
  EXPECT_EQ(SendExpectingError({.url = loopback.Url("/in"), .method = "POST /x HTTP/1.1\r\n"}),
            HttpError::Reason::kBadRequest);
  EXPECT_TRUE(loopback.Received().empty());
}

TEST(CurlHttpSender, ServerThatNeverAnswersTimesOutWithinTheTotalLimit) {
  LoopbackServer loopback;
  loopback.server().Post("/hang", [&](const httplib::Request&, httplib::Response&) {
    loopback.HoldUntilReleased();
  });
  const auto start = steady_clock::now();
  EXPECT_EQ(SendExpectingError(
                {.url = loopback.Url("/hang"), .connectTimeoutMs = 300, .totalTimeoutMs = 300}),
            HttpError::Reason::kTimeout);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(loopback.WaitForHeldRequest(std::chrono::seconds(0)));
}

TEST(CurlHttpSender, CancelFlagAbandonsARequestInFlight) {
  LoopbackServer loopback;
  loopback.server().Post("/hang", [&](const httplib::Request&, httplib::Response&) {
    loopback.HoldUntilReleased();
  });
  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    loopback.WaitForHeldRequest(std::chrono::seconds(10));
    cancel = true;
  });
  const auto start = steady_clock::now();
  EXPECT_EQ(SendExpectingError(
                {.url = loopback.Url("/hang"), .totalTimeoutMs = 10000, .cancel = &cancel}),
            HttpError::Reason::kCancelled);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  canceller.join();
}

}  // namespace
}  // namespace corvantis::http
