#pragma once
#include "app/session_environment.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

// Runs the whole benchmark on `session`; returns the exit code 0. Errors before crash reporting
// starts (and failed text conversions of the user and driver steps) leave it as hresult_error.
int RunBenchmarkSession(BenchmarkSession& session, SessionEnvironment& environment);

// Fills Adapter and AdapterDescription with the adapter of the session's AdapterIndex, else the
// first adapter of vendor 0x1002 (or the software adapter when the session asks for it); raises
// the enumeration's error past the last adapter.
void SelectAmdAdapter(BenchmarkSession& session);

inline constexpr std::uint32_t kAmdVendorId = 0x1002;

inline constexpr wchar_t kBanner[] =
    L"The application will attempt to encode video using AMD GPU in several H.264 and "
    L"H.265/HEVC scenarios, the whole process is going to take a few minutes, please be patient...";

}  // namespace corvantis
