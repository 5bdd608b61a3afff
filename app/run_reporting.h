#pragma once
#include <memory>

#include "platform/graphics.h"
#include "report/run_record.h"
#include "scenarios/benchmark_session.h"
#include "scenarios/series_observer.h"

namespace corvantis {

// The reporter of this run as its options ask: progress on a terminal, why a series stopped,
// and the report files. A report path that cannot be written is said in one stderr line now,
// and the run goes on without the report.
std::unique_ptr<SeriesObserver> MakeRunReporter(const BenchmarkSession& session);

// The stack under render node `node` of `sources`: its VA driver as libva loads it, the kernel
// driver, VBIOS and firmware from sysfs. Nothing for the software adapter's empty node.
DriverStack ReadDriverStack(const std::string& node, const AdapterSources& sources);

// Adds the versions of the media libraries loaded in this process.
void AddLibraryVersions(DriverStack& stack);

}  // namespace corvantis
