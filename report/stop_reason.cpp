#include "report/stop_reason.h"

#include "platform/format_text.h"
#include "platform/system_message.h"

namespace corvantis {

std::wstring ErrorText(HRESULT code, const std::wstring& raised) {
  std::wstring text = SystemMessage(code);
  if (text.empty()) text = raised;
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
    text.pop_back();
  return text;
}

std::wstring StopReasonLine(const SeriesRecord& series) {
  if (series.Finished || series.Clips.empty()) return {};
  const ClipRecord& clip = series.Clips.back();
  if (clip.Verdict != ClipVerdict::Error) return {};
  return FormatWide(L"%ls %ls: 0x%08X %ls", series.Label.c_str(), ModeText(clip.Scenario).c_str(),
                    static_cast<unsigned>(clip.ErrorCode),
                    ErrorText(clip.ErrorCode, clip.ErrorMessage).c_str());
}

}  // namespace corvantis
