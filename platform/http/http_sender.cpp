#include "platform/http/http_sender.h"

#include <algorithm>
#include <cctype>

namespace corvantis::http {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<std::string> HttpResponse::Header(std::string_view name) const {
  std::optional<std::string> value;
  for (const auto& [key, text] : Headers) {
    if (!EqualsIgnoreCase(key, name)) continue;
    value = value ? *value + ", " + text : text;
  }
  return value;
}

HttpSender::~HttpSender() = default;

}  // namespace corvantis::http
