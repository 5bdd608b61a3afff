#pragma once
#include <string>

#include "scenarios/series_record.h"

namespace corvantis {

// "HEVC 3840x2160@30: 0x80070070 There is not enough space on the disk." for a series that an
// error ended; empty for one that ran to its end.
std::wstring StopReasonLine(const SeriesRecord& series);

// The text that explains an error: the system's message for its HRESULT, else the raised text
// without its trailing line ends.
std::wstring ErrorText(HRESULT code, const std::wstring& raised);

}  // namespace corvantis
