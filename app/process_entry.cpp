#include "app/process_entry.h"

#include "app/usage.h"
#include "platform/console.h"
#include "platform/format_text.h"
#include "platform/hresult_error.h"

namespace corvantis {

int RunProcess(const std::vector<std::wstring>& arguments, const ProcessRoles& roles) {
  try {
    bool childDone = false;
    try {
      childDone = roles.RunDebuggerChild && roles.RunDebuggerChild(arguments);
    } catch (...) {
      // The debugger child could not attach: it ends quietly, the parent goes on without it.
      return kExitFailure;
    }
    if (childDone) return static_cast<int>(arguments.size());
    if (AsksForHelp(arguments)) {
      StdOut().Write(kUsageText);
      StdOut().Flush();
      return 0;
    }
    if (roles.ListAdapters && AsksForAdapterList(arguments)) return roles.ListAdapters();
    if (roles.EnterBenchmarkRole) roles.EnterBenchmarkRole();
    ApplyDebugArguments(arguments, [&](const DebugOptions& options) {
      if (roles.StartDebuggerChild) roles.StartDebuggerChild(options);
    });
    BenchmarkSession session = ParseSessionArguments(arguments);
    if (session.Options.AdapterChoice && roles.ResolveAdapter) roles.ResolveAdapter(session);
    return roles.RunBenchmarkSession(session);
  } catch (const hresult_error& error) {
    if (error.code() == E_INVALIDARG) {
      StdErr().WriteLine(L"corvantis: " + error.message());
      return kExitInvalidArgument;
    }
    StdErr().WriteLine(FormatWide(L"corvantis: %ls (0x%08X)", error.message().c_str(),
                                  static_cast<unsigned>(error.code())));
    return kExitFailure;
  } catch (const std::exception& error) {
    StdErr().WriteLine(FormatWide(L"corvantis: %hs", error.what()));
    return kExitFailure;
  }
}

}  // namespace corvantis
