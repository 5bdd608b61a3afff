#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "debug_capture/parent_debug_events.h"
#include "platform/debug_output.h"
#include "platform/hresult_error.h"
#include "tests/debug_events/test_tracer.h"
#include "tests/debug_events/throw_reader.h"

namespace corvantis {

namespace {

// What a debugger reads of an originate-error event.
std::u16string OriginateMessage(pid_t pid, const EXCEPTION_RECORD64& record) {
  std::u16string text(record.ExceptionInformation[1] + 1, u'?');
  if (!ReadRemote(pid, record.ExceptionInformation[2], text.data(), text.size() * 2))
    return u"<unreadable>";
  return text;
}

std::vector<EXCEPTION_RECORD64> WithCode(const TraceResult& result, std::uint32_t code) {
  std::vector<EXCEPTION_RECORD64> records;
  for (const TracedEvent& event : result.Events)
    if (event.Data.Record.ExceptionCode == code) records.push_back(event.Data.Record);
  return records;
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
  const auto origins = WithCode(result, EXCEPTION_RO_ORIGINATEERROR);
  ASSERT_EQ(origins.size(), 2u);
  EXPECT_GE(origins[0].NumberParameters, 3u);
  EXPECT_EQ(origins[0].ExceptionInformation[0], 0x80070050u);
  EXPECT_EQ(origins[0].ExceptionInformation[1], 20u);  // the emoji takes two UTF-16 units
  EXPECT_EQ(messages[0], std::u16string(u"The file exists: \u00e9\U0001F600") + u'\0');
  EXPECT_EQ(origins[1].ExceptionInformation[0], 0x80004005u);
  EXPECT_EQ(messages[1], std::u16string(u"HRESULT 0x80004005") + u'\0');
}

// The path of the mapping that holds `address` in the process's maps, as a debugger finds the
// module of an image base.
std::string MappedPath(pid_t pid, std::uint64_t address) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream fields(line);
    std::string range, permissions, offset, device, inode, path;
    fields >> range >> permissions >> offset >> device >> inode >> path;
    const auto dash = range.find('-');
    if (std::stoull(range.substr(0, dash), nullptr, 16) <= address &&
        address < std::stoull(range.substr(dash + 1), nullptr, 16))
      return path;
  }
  return {};
}

TEST(ParentDebugEvents, EveryThrowIsRaisedWithRecordsInTheProgramsImage) {
  std::vector<ThrowReading> throws;
  std::vector<std::string> modules;
  // This process's fresh "no debugger" must not carry over into the forked child it traces.
  ASSERT_FALSE(DebuggerMayBePresent());
  const TraceResult result = RunTraced(
      [] {
        try {
          throw hresult_error(MakeHResult(0x80070050), L"exists");
        } catch (const hresult_error&) {
        }
        try {
          throw E_INVALIDARG;
        } catch (HRESULT) {
        }
        try {
          std::vector<int>().at(1);  // thrown inside libstdc++
        } catch (const std::out_of_range&) {
        }
      },
      [&](pid_t pid, const TracedEvent& event) {
        if (event.Data.Record.ExceptionCode != EXCEPTION_MSVC_CPP) return;
        throws.push_back(
            ReadThrow(event.Data.Record, [pid](std::uint64_t address, void* out, std::size_t size) {
              return ReadRemote(pid, address, out, size);
            }));
        modules.push_back(MappedPath(pid, event.Data.Record.ExceptionInformation[3]));
      });
  ASSERT_TRUE(WIFEXITED(result.Status));
  const auto records = WithCode(result, EXCEPTION_MSVC_CPP);
  ASSERT_EQ(records.size(), 3u);
  for (const EXCEPTION_RECORD64& record : records) {
    EXPECT_EQ(record.NumberParameters, 4u);
    EXPECT_EQ(record.ExceptionInformation[0], 0x19930520u);
  }
  for (const std::string& module : modules)
    EXPECT_EQ(module, std::filesystem::read_symlink("/proc/self/exe").string());
  ASSERT_EQ(throws.size(), 3u);
  for (const ThrowReading& reading : throws) EXPECT_TRUE(reading.Complete);
  EXPECT_EQ(throws[0].DecoratedName, ".?AUhresult_error@winrt@@");
  ASSERT_EQ(throws[0].Object.size(), 24u);
  EXPECT_EQ(LoadU32(throws[0].Object.data() + 12), 0x80070050u);
  EXPECT_EQ(throws[1].DecoratedName, ".J");
  ASSERT_EQ(throws[1].Object.size(), 4u);
  EXPECT_EQ(LoadU32(throws[1].Object.data()), 0x80070057u);
  EXPECT_EQ(throws[2].DecoratedName, ".?AVout_of_range@std@@");
  EXPECT_EQ(throws[2].ObjectSize, sizeof(std::out_of_range));
}

TEST(ParentDebugEvents, ThreadsThrowingAtOnceEachHaveTheirOwnRecordsUntilTheDebuggerIsDone) {
  constexpr std::uint32_t kThreads = 4, kThrows = 25;
  std::vector<std::uint32_t> seen;
  const TraceResult result = RunTraced(
      [] {
        std::vector<std::thread> threads;
        for (std::uint32_t t = 0; t < kThreads; ++t)
          threads.emplace_back([t] {
            for (std::uint32_t i = 0; i < kThrows; ++i) {
              try {
                throw static_cast<HRESULT>(0x80000000u | (t << 8) | i);
              } catch (HRESULT) {
              }
            }
          });
        for (std::thread& thread : threads) thread.join();
      },
      [&](pid_t pid, const TracedEvent& event) {
        const ThrowReading reading =
            ReadThrow(event.Data.Record, [pid](std::uint64_t address, void* out, std::size_t size) {
              return ReadRemote(pid, address, out, size);
            });
        if (reading.Complete && reading.Object.size() == 4)
          seen.push_back(LoadU32(reading.Object.data()));
      });
  ASSERT_TRUE(WIFEXITED(result.Status));
  std::vector<std::uint32_t> thrown;
  for (std::uint32_t t = 0; t < kThreads; ++t)
    for (std::uint32_t i = 0; i < kThrows; ++i) thrown.push_back(0x80000000u | (t << 8) | i);
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, thrown) << "a throw was read with another thread's records";
}

struct Fault {
  const char* Name;
  int Signal;
  std::uint32_t Code;
  void (*Cause)();
};

#ifndef __has_feature
#define __has_feature(feature) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kSanitizerEndsFaults = true;  // its own handler ends the process with a report
#else
constexpr bool kSanitizerEndsFaults = false;
#endif

int* volatile g_unmapped = reinterpret_cast<int*>(0x10);

const Fault kFaults[] = {
    {"NullWrite", SIGSEGV, 0xC0000005, [] { *g_unmapped = 1; }},
    {"ExecuteData", SIGSEGV, 0xC0000005,
     [] {
       void* page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
       reinterpret_cast<void (*)()>(page)();
     }},
    // In assembly, where no compiler or sanitizer check comes before the processor's.
    {"DivideByZero", SIGFPE, 0xC0000094,
     [] {
       asm volatile("movl $7, %%eax\n\tcltd\n\txorl %%ecx, %%ecx\n\tidivl %%ecx" ::
                        : "eax", "ecx", "edx", "cc");
     }},
    {"IllegalInstruction", SIGILL, 0xC000001D, [] { __builtin_trap(); }},
    {"Breakpoint", SIGTRAP, 0x80000003, [] { asm volatile("int3"); }},
    {"Abort", SIGABRT, 0xC0000409, [] { std::abort(); }},
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.Name; }

class FaultEvents : public testing::TestWithParam<Fault> {};

TEST_P(FaultEvents, AreRaisedOnceAndTheProcessStillDiesByItsSignal) {
  const Fault& fault = GetParam();
  const int bare = RunUntraced(fault.Cause);
  const int observed = RunUntraced([&] {
    InstallParentDebugEvents();
    fault.Cause();
  });
  const TraceResult traced = RunTraced([&] {
    InstallParentDebugEvents();
    fault.Cause();
  });
  if (!kSanitizerEndsFaults) {
    ASSERT_TRUE(WIFSIGNALED(bare));
    EXPECT_EQ(WTERMSIG(bare), fault.Signal);
  }
  EXPECT_EQ(observed, bare) << "the handler changed how the process ends";
  EXPECT_EQ(traced.Status, bare) << "the debugger changed how the process ends";
  ASSERT_EQ(traced.Events.size(), 1u);
  const TracedEvent& event = traced.Events[0];
  EXPECT_EQ(event.Data.Record.ExceptionCode, fault.Code);
  ASSERT_NE(event.Data.ContextAddress, 0u);
  EXPECT_EQ(event.Data.Record.ExceptionAddress,
            event.ContextRip - (fault.Signal == SIGTRAP ? 1 : 0));
  if (fault.Signal == SIGSEGV) {
    const bool execute = std::string(fault.Name) == "ExecuteData";
    EXPECT_EQ(event.Data.Record.ExceptionInformation[0], execute ? 8u : 1u);
    EXPECT_EQ(event.Data.Record.ExceptionInformation[1], execute ? event.ContextRip : 0x10u);
  }
  EXPECT_FALSE(traced.PassedSignals.empty());
  for (int passed : traced.PassedSignals) EXPECT_EQ(passed, fault.Signal);
}

INSTANTIATE_TEST_SUITE_P(Signals, FaultEvents, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& tested) {
                           return std::string(tested.param.Name);
                         });

}  // namespace

}  // namespace corvantis
