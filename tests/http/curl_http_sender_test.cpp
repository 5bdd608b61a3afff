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
    return error.Cause();
  }
  ADD_FAILURE() << "no HttpError for " << request.Url;
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
  const HttpResponse response = sender.Send({.Url = loopback.Url("/sendMessage"), .Body = "{}"});
  EXPECT_EQ(response.Status, status);
  EXPECT_EQ(response.Body, "answer " + std::to_string(status));
}

INSTANTIATE_TEST_SUITE_P(CurlHttpSender, StatusTest, ::testing::Values(200, 400, 500));

TEST(CurlHttpSender, KeepsTheAnswersHeadersAndAtMost64KiBOfAnEndlessBody) {
  LoopbackServer loopback;
  loopback.server().Post("/endless", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("X-Sentry-Rate-Limits", "60:error:key");
    res.set_header("X-Repeated", "a");
    res.set_header("X-Repeated", "b");
    // Streams until the client goes away.
    res.set_chunked_content_provider("application/octet-stream",
                                     [](size_t, httplib::DataSink& sink) {
                                       const std::string block(4096, 'x');
                                       return sink.write(block.data(), block.size());
                                     });
  });
  CurlHttpSender sender;
  const HttpResponse response =
      sender.Send({.Url = loopback.Url("/endless"), .TotalTimeoutMs = 10000});
  EXPECT_EQ(response.Status, 200);
  EXPECT_EQ(response.Body.size(), kMaxResponseBodyBytes);
  EXPECT_EQ(response.Header("x-sentry-rate-limits"), "60:error:key");
  EXPECT_EQ(response.Header("X-REPEATED"), "a, b");
  EXPECT_FALSE(response.Header("Retry-After"));
}

// A large body, headers as given, an empty POST with a zero length and no invented type, and
// other verbs, all through one sender.
TEST(CurlHttpSender, DeliversBodyHeadersAndVerbExactly) {
  LoopbackServer loopback;
  loopback.RecordPosts("/in");
  const auto record = [&](const httplib::Request& req, httplib::Response&) {
    loopback.Record(req);
  };
  loopback.server().Get("/r", record);
  loopback.server().Put("/r", record);
  // Large enough that libcurl would ask for "Expect: 100-continue" if left alone.
  std::string body = "{\"text\":\"line1\\nline2 \xC3\xA9\"}";
  body.append(2 * 1024 * 1024, 'x');
  body.push_back('\0');
  body.append("tail");

  CurlHttpSender sender;
  EXPECT_EQ(sender
                .Send({.Url = loopback.Url("/in"),
                       .Headers = {{"Content-Type", "application/json"}, {"X-Custom", "a, b;c"}},
                       .Body = body})
                .Status,
            200);
  EXPECT_EQ(sender.Send({.Url = loopback.Url("/in")}).Status, 200);
  EXPECT_EQ(sender.Send({.Url = loopback.Url("/r"), .Method = "GET"}).Status, 200);
  EXPECT_EQ(sender.Send({.Url = loopback.Url("/r"), .Method = "PUT", .Body = "put body"}).Status,
            200);

  const auto received = loopback.Received();
  ASSERT_EQ(received.size(), 4U);
  const auto& req = received[0];
  EXPECT_EQ(req.Method, "POST");
  EXPECT_EQ(req.Body, body);
  EXPECT_EQ(req.Headers.count("Content-Type"), 1U);
  EXPECT_EQ(req.Headers.find("Content-Type")->second, "application/json");
  EXPECT_EQ(req.Headers.find("X-Custom")->second, "a, b;c");
  EXPECT_EQ(req.Headers.count("Expect"), 0U);
  EXPECT_EQ(received[1].Method, "POST");
  EXPECT_EQ(received[1].Body, "");
  ASSERT_EQ(received[1].Headers.count("Content-Length"), 1U);
  EXPECT_EQ(received[1].Headers.find("Content-Length")->second, "0");
  EXPECT_EQ(received[1].Headers.count("Content-Type"), 0U);
  EXPECT_EQ(received[2].Method, "GET");
  EXPECT_EQ(received[3].Method, "PUT");
  EXPECT_EQ(received[3].Body, "put body");
}

TEST(CurlHttpSender, TransportFailuresThrowWithTheirReason) {
  RefusingPort refusing;
  EXPECT_EQ(SendExpectingError({.Url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/x",
                                .ConnectTimeoutMs = 2000,
                                .TotalTimeoutMs = 5000}),
            HttpError::Reason::kConnect);

  for (const char* url : {"", "http://[::1", "http://exa mple.invalid/", "ftp://127.0.0.1/x",
                          "file:///etc/hostname"}) {
    EXPECT_EQ(SendExpectingError({.Url = url}), HttpError::Reason::kBadRequest) << url;
  }
}

TEST(CurlHttpSender, HeaderOrMethodWithLineBreakIsRefusedBeforeSending) {
  LoopbackServer loopback;
  loopback.RecordPosts("/in");
  EXPECT_EQ(SendExpectingError(
                {.Url = loopback.Url("/in"), .Headers = {{"X-Test", "a\r\nX-Injected: 1"}}}),
            HttpError::Reason::kBadRequest);
  EXPECT_EQ(SendExpectingError({.Url = loopback.Url("/in"), .Headers = {{"Bad Name", "v"}}}),
            HttpError::Reason::kBadRequest);
  EXPECT_EQ(SendExpectingError({.Url = loopback.Url("/in"), .Method = "POST /x HTTP/1.1\r\n"}),
            HttpError::Reason::kBadRequest);
  EXPECT_TRUE(loopback.Received().empty());
}

TEST(CurlHttpSender, ServerThatNeverAnswersTimesOutWithinTheTotalLimit) {
  LoopbackServer loopback;
  loopback.HoldPosts("/hang");
  const auto start = steady_clock::now();
  EXPECT_EQ(SendExpectingError(
                {.Url = loopback.Url("/hang"), .ConnectTimeoutMs = 300, .TotalTimeoutMs = 300}),
            HttpError::Reason::kTimeout);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(loopback.WaitForHeldRequest(std::chrono::seconds(0)));
}

TEST(CurlHttpSender, CancelFlagAbandonsARequestInFlight) {
  LoopbackServer loopback;
  loopback.HoldPosts("/hang");
  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    loopback.WaitForHeldRequest(std::chrono::seconds(10));
    cancel = true;
  });
  const auto start = steady_clock::now();
  EXPECT_EQ(SendExpectingError(
                {.Url = loopback.Url("/hang"), .TotalTimeoutMs = 10000, .Cancel = &cancel}),
            HttpError::Reason::kCancelled);
  EXPECT_LT(steady_clock::now() - start, std::chrono::seconds(5));
  canceller.join();
}

}  // namespace
}  // namespace corvantis::http
