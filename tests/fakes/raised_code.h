#pragma once
#include <cstdint>
#include <functional>

#include "platform/hresult_error.h"

namespace corvantis {

// The code of the hresult_error that `action` raises, as unsigned; 0 when it raises none.
inline std::uint32_t RaisedCode(const std::function<void()>& action) {
  try {
    action();
  } catch (const hresult_error& error) {
    return static_cast<std::uint32_t>(error.code());
  }
  return 0;
}

}  // namespace corvantis
