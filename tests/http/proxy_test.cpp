// Proxies from the environment, as libcurl reads them by default, for http and https addresses.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "platform/http/curl_http_sender.h"
#include "tests/http/loopback_server.h"

namespace corvantis::http {
namespace {

using corvantis::testing::LoopbackServer;
using corvantis::testing::RefusingPort;

// Takes one connection on a loopback port, keeps its request head and closes it: enough to see
// what a client asks a proxy for before any tunnel would exist.
class HeadRecorder {
 public:
  HeadRecorder() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, 1) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      throw std::runtime_error("cannot listen on a loopback port");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      const int client = ::accept(fd_, nullptr, nullptr);
      if (client < 0) return;
      char buffer[1024];
      while (head_.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        head_.append(buffer, static_cast<std::size_t>(n));
      }
      ::close(client);
    });
  }
  ~HeadRecorder() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  // After the client has given up: what it sent, empty when it never came.
  std::string Head() {
    ::shutdown(fd_, SHUT_RDWR);  // ends a wait for a connection that will not come
    if (thread_.joinable()) thread_.join();
    return head_;
  }

 private:
  int fd_;
  int port_ = 0;
  std::thread thread_;
  std::string head_;
};

// Every proxy variable libcurl reads, cleared for the test and restored after it.
class ProxyEnvironmentTest : public ::testing::Test {
 protected:
  ProxyEnvironmentTest() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"}) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
      ::unsetenv(name);
    }
  }
  ~ProxyEnvironmentTest() override {
    for (const auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
  }
  static void Set(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(ProxyEnvironmentTest, HttpAddressesGoThroughHttpProxy) {
  LoopbackServer proxy;
  proxy.RecordPosts(".*");
  Set("http_proxy", "127.0.0.1:" + std::to_string(proxy.port()));
  CurlHttpSender sender;
  const HttpResponse response = sender.Send({.Url = "http://chat.invalid/bot1/sendMessage",
                                             .Body = "{}",
                                             .ConnectTimeoutMs = 2000,
                                             .TotalTimeoutMs = 10000});
  EXPECT_EQ(response.Status, 200);
  const auto received = proxy.Received();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].Headers.find("Host")->second, "chat.invalid");
  EXPECT_EQ(received[0].Body, "{}");
}

TEST_F(ProxyEnvironmentTest, HttpsAddressesAskHttpsProxyForATunnel) {
  HeadRecorder proxy;
  Set("https_proxy", "http://127.0.0.1:" + std::to_string(proxy.port()));
  CurlHttpSender sender;
  EXPECT_THROW(sender.Send({.Url = "https://events.invalid/api/42/envelope/",
                            .Body = "{}",
                            .ConnectTimeoutMs = 2000,
                            .TotalTimeoutMs = 10000}),
               HttpError);
  const std::string head = proxy.Head();
  EXPECT_EQ(head.rfind("CONNECT events.invalid:443 HTTP/1.1\r\n", 0), 0u) << head;
}

TEST_F(ProxyEnvironmentTest, NoProxyHostsAreReachedDirectly) {
  LoopbackServer destination;
  destination.server().Post(
      "/in", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
  RefusingPort deadProxy;
  Set("http_proxy", "http://127.0.0.1:" + std::to_string(deadProxy.port()));
  const HttpRequest request{
      .Url = destination.Url("/in"), .ConnectTimeoutMs = 2000, .TotalTimeoutMs = 10000};
  CurlHttpSender sender;
  // The dead proxy is really used...
  EXPECT_THROW(sender.Send(request), HttpError);
  // ...unless the host is listed.
  Set("no_proxy", "example.invalid,127.0.0.1");
  EXPECT_EQ(sender.Send(request).Status, 204);
}

}  // namespace
}  // namespace corvantis::http
