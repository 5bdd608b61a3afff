#include "debug_capture/parent_debug_events.h"

#include "platform/fault_debug_event.h"
#include "platform/fault_signals.h"
#include "platform/hresult_error.h"
#include "platform/originate_error.h"

namespace corvantis {

void InstallParentDebugEvents() {
  SetErrorOriginHook(RoOriginateLanguageException);
  AddFaultObserver(RaiseFaultDebugEvent);
}

}  // namespace corvantis
