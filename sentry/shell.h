#pragma once

#include "sentry/client.h"
#include "sentry/json.h"
#include "sentry/sentry.h"

// The process-wide client behind the sentry_* functions.
namespace corvantis::sentry {

// sentry_init with these dependencies in place of ProductionDependencies().
int InitWithDependencies(sentry_options_t* options, ClientDependencies dependencies);

// {"user": ..., "tags": {...}, "breadcrumbs": [...]}
Json ScopeSnapshot();
void ClearScope();

}  // namespace corvantis::sentry
