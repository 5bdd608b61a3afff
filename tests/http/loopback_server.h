#pragma once

#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace corvantis::testing {

struct ReceivedRequest {
  std::string Method;
  std::string Path;
  httplib::Headers Headers;
  std::string Body;
};

// An httplib server on 127.0.0.1 with a free port, listening until destroyed.
class LoopbackServer {
 public:
  LoopbackServer() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind a loopback port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!server_.is_running() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  ~LoopbackServer() {
    ReleaseHeldRequests();
    server_.stop();
    thread_.join();
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  httplib::Server& server() { return server_; }
  int port() const { return port_; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

  // Every POST to a path matching `pattern` is recorded and answered 200.
  void RecordPosts(const std::string& pattern) {
    server_.Post(pattern,
                 [this](const httplib::Request& request, httplib::Response&) { Record(request); });
  }
  // Every POST to a path matching `pattern` is held unanswered until the server goes.
  void HoldPosts(const std::string& pattern) {
    server_.Post(pattern,
                 [this](const httplib::Request&, httplib::Response&) { HoldUntilReleased(); });
  }

  void Record(const httplib::Request& request) {
    const std::lock_guard lock(mutex_);
    received_.push_back({request.method, request.path, request.headers, request.body});
    changed_.notify_all();
  }
  std::vector<ReceivedRequest> Received() {
    const std::lock_guard lock(mutex_);
    return received_;
  }
  // Waits until at least `count` requests were recorded or `limit` passes.
  bool WaitForRequests(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return received_.size() >= count; });
  }

  // For handlers that must not answer: blocks until the test ends (bounded, to never wedge).
  void HoldUntilReleased() {
    std::unique_lock lock(mutex_);
    ++held_;
    changed_.notify_all();
    changed_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
  }
  bool WaitForHeldRequest(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return held_ > 0; });
  }
  void ReleaseHeldRequests() {
    const std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ReceivedRequest> received_;
  int held_ = 0;
  bool released_ = false;
};

// A loopback port that is bound but not listening, so connecting to it is refused.
class RefusingPort {
 public:
  RefusingPort() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("cannot reserve a loopback port");
    }
    port_ = ntohs(address.sin_port);
  }
  ~RefusingPort() { ::close(fd_); }
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace corvantis::testing
