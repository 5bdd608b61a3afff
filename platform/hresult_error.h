#pragma once
#include <exception>
#include <string>

#include "platform/hresult.h"

namespace corvantis {

// The one error type of the benchmark role: a 32-bit HRESULT and a wide message.
// Constructing it reports code and message to the error-origin hook.
class hresult_error : public std::exception {
 public:
  explicit hresult_error(HRESULT code);
  hresult_error(HRESULT code, std::wstring message);

  HRESULT code() const noexcept { return code_; }
  const std::wstring& message() const noexcept { return message_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  HRESULT code_;
  std::wstring message_;
  std::string what_;
};

// Raises hresult_error for a failing (negative) HRESULT.
inline void check_hresult(HRESULT hr) {
  if (FAILED(hr)) throw hresult_error(hr);
}

// Called with code and message whenever an hresult_error is made; the debugger relay installs
// one. Not thread-safe to change while errors are raised.
using ErrorOriginHook = void (*)(HRESULT code, const std::wstring& message);
void SetErrorOriginHook(ErrorOriginHook hook);

// Text for an HRESULT when the raiser gave none.
std::wstring DefaultHResultMessage(HRESULT code);

}  // namespace corvantis
