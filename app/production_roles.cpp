#include "app/adapter_choice.h"
#include "app/process_entry.h"
#include "app/session_driver.h"
#include "app/session_environment.h"
#include "debug_capture/configure_debugger.h"
#include "debug_capture/debugger_launcher.h"
#include "debug_capture/parent_debug_events.h"
#include "platform/console.h"
#include "platform/large_blocks.h"

namespace corvantis {

ProcessRoles ProductionRoles() {
  ProcessRoles roles;
  roles.RunDebuggerChild = [](const std::vector<std::wstring>& arguments) {
    return ParentProcessDebug::RunFromCommandLine(arguments, ConfigureDebugger);
  };
  roles.EnterBenchmarkRole = InstallParentDebugEvents;
  roles.StartDebuggerChild = [](const DebugOptions& options) {
    return StartDebuggerChild(options);
  };
  roles.ListAdapters = [] {
    ListAdapters(ListRenderNodes(AdapterSources{}), ProbeVaNode, StdOut());
    return 0;
  };
  roles.ResolveAdapter = [](BenchmarkSession& session) {
    const std::uint32_t index =
        ResolveAdapterChoice(*session.Options.AdapterChoice, ListRenderNodes(AdapterSources{}));
    session.Options.AdapterIndex = index;
  };
  roles.RunBenchmarkSession = [](BenchmarkSession& session) {
    ReturnLargeBlocksToSystem();
    return RunBenchmarkSession(session, ProductionEnvironment());
  };
  return roles;
}

}  // namespace corvantis
