#pragma once
#include <cstdint>
#include <string>

#include "platform/http/http_sender.h"

namespace corvantis {

// Where the chat message goes: the base address (deciphered only when needed) and the chat.
struct ChatEndpoint {
  std::string (*BaseAddress)();  // "" when the build names no endpoint
  std::int64_t ChatId;
  // An endpoint that never answers must not keep the program at "Finalizing...".
  long ConnectTimeoutMs = 10000;
  long TotalTimeoutMs = 30000;
};

// The request body: {"chat_id":<id>,"text":<text>} in that order, compact.
std::string BuildChatMessageBody(std::int64_t chatId, const std::string& utf8Text);

// Prints "Finalizing...", captures the session's results text as an info message event, posts it
// to the chat endpoint (a success status required), then prints " results submitted" whatever
// happened. Raises nothing.
void SubmitResults(const std::wstring& resultsText, corvantis::http::HttpSender& sender,
                   const ChatEndpoint& endpoint);

}  // namespace corvantis
