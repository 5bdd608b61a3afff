#include "platform/hresult_error.h"

#include <atomic>
#include <cstdio>

#include "platform/utf.h"

namespace corvantis {

namespace {
std::atomic<ErrorOriginHook> g_originHook{nullptr};
}

void SetErrorOriginHook(ErrorOriginHook hook) { g_originHook.store(hook); }

std::wstring DefaultHResultMessage(HRESULT code) {
  wchar_t text[32];
  std::swprintf(text, sizeof text / sizeof text[0], L"HRESULT 0x%08X", static_cast<unsigned>(code));
  return text;
}

hresult_error::hresult_error(HRESULT code) : hresult_error(code, DefaultHResultMessage(code)) {}

hresult_error::hresult_error(HRESULT code, std::wstring message)
    : code_(code), message_(std::move(message)), what_(WideToUtf8Lossy(message_)) {
  if (ErrorOriginHook hook = g_originHook.load()) hook(code_, message_);
}

}  // namespace corvantis
