#include "app/process_entry.h"
#include "app/session_driver.h"
#include "app/session_environment.h"

ProcessRoles ProductionRoles() {
  ProcessRoles roles;
  // The debugger-child role and its launcher are not part of this build yet: with both left
  // empty the process always takes the benchmark role and "-Debug" starts no child.
  roles.RunBenchmarkSession = [](BenchmarkSession& session) {
    return RunBenchmarkSession(session, ProductionEnvironment());
  };
  return roles;
}
