#pragma once

#include <atomic>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace corvantis::http {

struct HttpRequest {
  std::string url{};
  std::string method = "POST";
  // Sent as given, in order; a "Content-Type" here is the only content type sent.
  std::vector<std::pair<std::string, std::string>> headers{};
  std::string body{};
  // 0 or less: no limit of our own.
  long connectTimeoutMs = 0;
  long totalTimeoutMs = 0;
  // When set, the request is abandoned soon after *cancel becomes true; must outlive Send.
  const std::atomic<bool>* cancel = nullptr;
};

struct HttpResponse {
  long status = 0;
  std::string body{};
};

class HttpError : public std::runtime_error {
 public:
  enum class Reason { kBadRequest, kConnect, kTimeout, kCancelled, kTransport };

  HttpError(Reason reason, const std::string& what) : std::runtime_error(what), reason_(reason) {}
  Reason reason() const noexcept { return reason_; }

 private:
  Reason reason_;
};

class HttpSender {
 public:
  virtual ~HttpSender();

  // Performs one request and returns whatever status the server answered (no redirects followed).
  // Throws HttpError when no response arrives: bad URL or header, refused, timed out, cancelled.
  virtual HttpResponse Send(const HttpRequest& request) = 0;

 protected:
  HttpSender() = default;
  HttpSender(const HttpSender&) = default;
  HttpSender& operator=(const HttpSender&) = default;
};

}  // namespace corvantis::http
