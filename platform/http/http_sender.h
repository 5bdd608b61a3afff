#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvantis::http {

struct HttpRequest {
  std::string Url{};
  std::string Method = "POST";
  // Sent as given, in order; a "Content-Type" here is the only content type sent.
  std::vector<std::pair<std::string, std::string>> Headers{};
  std::string Body{};
  // 0 or less: no limit of our own.
  long ConnectTimeoutMs = 0;
  long TotalTimeoutMs = 0;
  // When set, the request is abandoned soon after *cancel becomes true; must outlive Send.
  const std::atomic<bool>* Cancel = nullptr;
};

// The most of a response body a sender keeps; the transfer ends there, so a server cannot fill
// the memory or hold the request with an endless answer.
inline constexpr std::size_t kMaxResponseBodyBytes = 64 * 1024;

struct HttpResponse {
  long Status = 0;
  // At most kMaxResponseBodyBytes: a longer body is cut there.
  std::string Body{};
  // The final answer's header fields in the order received (not those of a proxy's CONNECT or of
  // an interim 1xx answer).
  std::vector<std::pair<std::string, std::string>> Headers{};

  // The named field's value, the name compared without case; repeated fields are joined with
  // ", " as HTTP allows. nullopt when absent.
  std::optional<std::string> Header(std::string_view name) const;
};

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

class HttpError : public std::runtime_error {
 public:
  enum class Reason { kBadRequest, kConnect, kTimeout, kCancelled, kTransport };

  HttpError(Reason reason, const std::string& what) : std::runtime_error(what), reason_(reason) {}
  Reason Cause() const noexcept { return reason_; }

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
