// Compiled once per executable, against the destination headers generated for it.
#include "submit/destinations/built_in_destinations.h"

#include "submit/build_config.h"
#include "submit/chat_endpoint_config.h"
#include "submit/config_cipher.h"

namespace corvantis {

namespace {

std::string DecipherBaseAddress() {
  return ApplyConfigCipher(kChatBaseAddressCipher, kChatBaseAddressSize, kChatBaseAddressKey);
}

}  // namespace

const char* BuiltInSentryDsn() { return kSentryDsn; }

ChatEndpoint BuiltInChatEndpoint() { return ChatEndpoint{&DecipherBaseAddress, kChatId}; }

}  // namespace corvantis
