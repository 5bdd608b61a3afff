#include <gtest/gtest.h>
#include <sys/wait.h>

#include <map>
#include <string>
#include <vector>

#include "debug_capture/parent_debug_events.h"
#include "platform/hresult_error.h"
#include "tests/debug_events/test_tracer.h"

namespace {

// What a debugger reads of an originate-error event.
std::u16string OriginateMessage(pid_t pid, const EXCEPTION_RECORD64& record) {
  std::u16string text(record.ExceptionInformation[1] + 1, u'?');
  if (!ReadRemote(pid, record.ExceptionInformation[2], text.data(), text.size() * 2)) return u"<unreadable>";
  return text;
}

TEST(ParentDebugEvents, EveryHresultErrorMadeReportsItsOriginWithTheMessage) {
  std::vector<std::u16string> messages;
  const TraceResult result = RunTraced(
      [] {
        InstallParentDebugEvents();
        hresult_error made(MakeHResult(0x80070050), L"The file exists: \u00e9\U0001F600");
        try {
          throw hresult_error(E_FAIL);
        } catch (const hresult_error&) {
        }
      },
      [&](pid_t pid, const TracedEvent& event) {
        if (event.Data.Record.ExceptionCode == EXCEPTION_RO_ORIGINATEERROR)
          messages.push_back(OriginateMessage(pid, event.Data.Record));
      });
  ASSERT_TRUE(WIFEXITED(result.Status));
  std::vector<EXCEPTION_RECORD64> origins;
  for (const TracedEvent& event : result.Events)
    if (event.Data.Record.ExceptionCode == EXCEPTION_RO_ORIGINATEERROR) origins.push_back(event.Data.Record);
  ASSERT_EQ(origins.size(), 2u);
  EXPECT_GE(origins[0].NumberParameters, 3u);
  EXPECT_EQ(origins[0].ExceptionInformation[0], 0x80070050u);
  EXPECT_EQ(origins[0].ExceptionInformation[1], 20u);  // the emoji takes two UTF-16 units
  EXPECT_EQ(messages[0], std::u16string(u"The file exists: \u00e9\U0001F600") + u'\0');
  EXPECT_EQ(origins[1].ExceptionInformation[0], 0x80004005u);
  EXPECT_EQ(messages[1], std::u16string(u"HRESULT 0x80004005") + u'\0');
}

}  // namespace
