#include "submit/results_submission.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/console.h"
#include "platform/utf.h"
#include "sentry/sentry.h"

namespace corvantis {

std::string BuildChatMessageBody(std::int64_t chatId, const std::string& utf8Text) {
  nlohmann::ordered_json body;
  body["chat_id"] = chatId;
  body["text"] = utf8Text;
  // Invalid UTF-8 cannot come from ToUtf8; replace rather than throw all the same.
  return body.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void SubmitResults(const std::wstring& resultsText, corvantis::http::HttpSender& sender,
                   const ChatEndpoint& endpoint) {
  Console& out = StdOut();
  out.Write(L"Finalizing...");
  // Shown before the requests below wait on the network (up to their time limits).
  out.Flush();
  try {
    const std::string text = ToUtf8(resultsText);
    sentry_capture_event(sentry_value_new_message_event(SENTRY_LEVEL_INFO, nullptr, text.c_str()));

    const std::string base = endpoint.BaseAddress ? endpoint.BaseAddress() : std::string();
    if (!base.empty()) {
      corvantis::http::HttpRequest request;
      request.Url = base + "/sendMessage";
      request.Method = "POST";
      request.Headers.emplace_back("Content-Type", "application/json");
      request.Body = BuildChatMessageBody(endpoint.ChatId, text);
      request.ConnectTimeoutMs = endpoint.ConnectTimeoutMs;
      request.TotalTimeoutMs = endpoint.TotalTimeoutMs;
      const corvantis::http::HttpResponse response = sender.Send(request);
      if (response.Status < 200 || response.Status > 299)
        throw std::runtime_error("chat endpoint answered " + std::to_string(response.Status));
    }
  } catch (...) {
    // Nothing of the submission is reported.
  }
  out.WriteLine(L" results submitted");
}

}  // namespace corvantis
