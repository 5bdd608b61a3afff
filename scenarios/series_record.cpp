#include "scenarios/series_record.h"

#include "platform/format_text.h"

namespace corvantis {

std::wstring ModeText(const ClipScenario& scenario) {
  return FormatWide(L"%ux%u@%.0f", scenario.Width, scenario.Height, scenario.FrameRate());
}

const char* VerdictName(ClipVerdict verdict) {
  switch (verdict) {
    case ClipVerdict::Pass: return "pass";
    case ClipVerdict::Fail: return "fail";
    case ClipVerdict::Skipped: return "skipped";
    case ClipVerdict::Error: return "error";
  }
  return "error";
}

}  // namespace corvantis
