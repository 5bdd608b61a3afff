#pragma once
#include <memory>

#include "scenarios/benchmark_session.h"
#include "scenarios/series_observer.h"

namespace corvantis {

// The reporter of this run as its options ask: progress on a terminal, why a series stopped,
// and the report files. A report path that cannot be written is said in one stderr line now,
// and the run goes on without the report.
std::unique_ptr<SeriesObserver> MakeRunReporter(const BenchmarkSession& session);

}  // namespace corvantis
