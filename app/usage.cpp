#include "app/usage.h"

namespace corvantis {

const wchar_t kUsageText[] =
    L"Usage: corvantis [options]\n"
    L"\n"
    L"Measures whether this machine's video encoders keep up with real time: 20 synthetic clips\n"
    L"(640x360 to 3840x2160, 30 to 260 frames per second) through H.264, then the same through\n"
    L"HEVC, each frame sent when it is due.\n"
    L"\n"
    L"Options (names in any case):\n"
    L"  -Adapter:Software   use the CPU encoders (libx264, libx265) instead of the first AMD "
    L"adapter\n"
    L"  -Seconds:N          make every clip N seconds long (1 to 600) instead of 30\n"
    L"  -Report[:path]      write a JSON report and a PNG chart of the results; without a path,\n"
    L"                      YYYYMMDD-hhmmss-report.json (and .png) beside the streams\n"
    L"  -user <e-mail>      the e-mail address reported with the results (also -u)\n"
    L"  -Debug[:Normal|Full|<number>], -DisableDebugOutput\n"
    L"                      run under a debugger copy of the program that relays debug output,\n"
    L"                      describes exceptions and writes a minidump for each one\n"
    L"  -?, -h, -help, --help\n"
    L"                      show this help and start nothing\n"
    L"\n"
    L"Output:\n"
    L"  standard output     the adapter, every clip's mode, stream file, average encoding time "
    L"and\n"
    L"                      elapsed time, then each codec's results table\n"
    L"  standard error      notices, why a series stopped, and a progress line on a terminal\n"
    L"  files               per clip its stream (.h264 or .h265) and a PNG of its last frame,\n"
    L"                      beside the program; the report where -Report says\n"
    L"\n"
    L"A full run sends at most 40 clips of 30 seconds, 20 minutes; clips skipped after a failure\n"
    L"make it shorter (about 13 1/2 minutes on a 2-core machine with -Adapter:Software). With\n"
    L"-Seconds:N it takes about N/30 of that.\n";

}  // namespace corvantis
