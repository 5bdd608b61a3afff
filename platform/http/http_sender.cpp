#include "platform/http/http_sender.h"

namespace corvantis::http {

HttpSender::~HttpSender() = default;

}  // namespace corvantis::http
