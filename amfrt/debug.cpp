#include "amfrt/debug.h"

#include "amfrt/trace.h"

namespace corvantis::amfrt {

Debug& Debug::Instance() {
  static Debug debug;
  return debug;
}

AMF_RESULT Misuse(AMF_RESULT result, const wchar_t* scope, const wchar_t* what) {
  if (Debug::Instance().AssertsEnabled())
    TraceLine(amf::AMF_TRACE_ERROR, scope, L"Assertion failed: %ls (%ls)", what,
              ResultName(result));
  return result;
}

}  // namespace corvantis::amfrt
