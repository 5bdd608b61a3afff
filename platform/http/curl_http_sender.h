#pragma once

#include "platform/http/http_sender.h"

namespace corvantis::http {

// libcurl sender. Stateless between calls, so one instance may serve several threads at once.
// Proxies come from the environment as libcurl reads them; only http and https URLs are accepted.
class CurlHttpSender final : public HttpSender {
 public:
  CurlHttpSender();
  HttpResponse Send(const HttpRequest& request) override;
};

}  // namespace corvantis::http
