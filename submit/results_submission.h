#pragma once
#include <cstdint>
#include <string>

#include "app/benchmark_session.h"
#include "platform/http/http_sender.h"

// Where the chat message goes: the base address (deciphered only when needed) and the chat.
struct ChatEndpoint {
  std::string (*BaseAddress)();  // "" when the build names no endpoint
  std::int64_t ChatId;
};

// The endpoint the build configured.
ChatEndpoint BuiltInChatEndpoint();

inline constexpr long kChatConnectTimeoutMs = 10000;
inline constexpr long kChatTotalTimeoutMs = 30000;

// The request body: {"chat_id":<id>,"text":<text>} in that order, compact.
std::string BuildChatMessageBody(std::int64_t chatId, const std::string& utf8Text);

// Prints "Finalizing...", captures the results text as an info message event, posts it to the
// chat endpoint (a success status required), then prints " results submitted" whatever happened.
// Raises nothing.
void SubmitResults(BenchmarkSession& session, corvantis::http::HttpSender& sender,
                   const ChatEndpoint& endpoint);
