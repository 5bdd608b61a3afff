#pragma once
#include "submit/results_submission.h"

namespace corvantis {

// The event service DSN the executable was built with ("" sends nothing).
const char* BuiltInSentryDsn();

// The chat endpoint the executable was built with (an empty base address sends nothing).
ChatEndpoint BuiltInChatEndpoint();

}  // namespace corvantis
