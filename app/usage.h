#pragma once

namespace corvantis {

// The short help that "-?", "-h", "-help" and "--help" print: options, where output goes, and
// how long a run takes. Lines end in "\n".
extern const wchar_t kUsageText[];

}  // namespace corvantis
