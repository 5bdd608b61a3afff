#include <gtest/gtest.h>

#include "app/command_line.h"
#include "app/process_entry.h"
#include "platform/console.h"
#include "platform/hresult_error.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

std::vector<DebugOptions> DebugScan(std::vector<std::wstring> args) {
  std::vector<DebugOptions> started;
  ApplyDebugArguments(args, [&](const DebugOptions& o) { started.push_back(o); });
  return started;
}

TEST(SplitArgument, ReadsNameAndValue) {
  std::wstring name, value;
  EXPECT_TRUE(SplitArgument(L"-Debug:Full", name, value));
  EXPECT_EQ(name, L"Debug");
  EXPECT_EQ(value, L"Full");
  EXPECT_TRUE(SplitArgument(L"-a:b:c", name, value));
  EXPECT_EQ(name, L"a");
  EXPECT_EQ(value, L"b:c");
  EXPECT_TRUE(SplitArgument(L"--Debug", name, value));
  EXPECT_EQ(name, L"-Debug");
  EXPECT_EQ(value, L"");
  EXPECT_TRUE(SplitArgument(L"-", name, value));
  EXPECT_EQ(name, L"");
  EXPECT_TRUE(SplitArgument(L"-:", name, value));
  EXPECT_EQ(name, L"");
  EXPECT_EQ(value, L"");

  // Non-options leave the outputs alone.
  name = L"keep";
  value = L"this";
  for (const wchar_t* arg : {L"", L"/Debug", L":", L"Debug", L" -Debug"}) {
    EXPECT_FALSE(SplitArgument(arg, name, value)) << arg;
    EXPECT_EQ(name, L"keep");
    EXPECT_EQ(value, L"this");
  }
}

TEST(StrToIntHex, FollowsTheShellRules) {
  EXPECT_EQ(StrToIntHex(L"2"), 2);
  EXPECT_EQ(StrToIntHex(L"0x2"), 2);
  EXPECT_EQ(StrToIntHex(L"0X1826"), 0x1826);
  EXPECT_EQ(StrToIntHex(L"  -12"), -12);
  EXPECT_EQ(StrToIntHex(L"-0x1"), 1);  // hexadecimal ignores the sign
  EXPECT_EQ(StrToIntHex(L"0x00am123"), 10);
  EXPECT_EQ(StrToIntHex(L"12abc"), 12);
  EXPECT_EQ(StrToIntHex(L"abc"), 0);
  EXPECT_EQ(StrToIntHex(L"0x"), 0);
  EXPECT_EQ(StrToIntHex(L""), 0);
  EXPECT_EQ(StrToIntHex(L"0x100000002"), 2);  // low 32 bits
  EXPECT_EQ(StrToIntHex(L"4294967297"), 1);
}

TEST(ApplyDebugArguments, DumpTypeFromTheValue) {
  struct Case {
    const wchar_t* Arg;
    std::uint32_t DumpType;
  } cases[] = {{L"-Debug", 0},
               {L"-Debug:", 0},
               {L"-Debug:Normal", 0},
               {L"-debug:NORMAL", 0},
               {L"-DEBUG:full", 0x1826},
               {L"-Debug:Full", 0x1826},
               {L"-Debug:0x1826", 0x1826},
               {L"-Debug:0x2", 2},
               {L"-Debug:2", 2},
               {L"-Debug:abc", 0}};
  for (const Case& c : cases) {
    auto started = DebugScan({L"prog", c.Arg});
    ASSERT_EQ(started.size(), 1u) << c.Arg;
    EXPECT_EQ(started[0].DumpType, c.DumpType) << c.Arg;
  }
}

TEST(ApplyDebugArguments, OrderAndScopeOfTheScan) {
  auto started = DebugScan({L"prog", L"-DisableDebugOutput", L"-Debug"});
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].DisableDebugOutput, 1u);

  started = DebugScan({L"prog", L"-Debug", L"-DisableDebugOutput", L"-Debug:Full"});
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].DisableDebugOutput, 0u);
  EXPECT_EQ(started[0].DumpType, 0u);

  EXPECT_TRUE(DebugScan({L"prog", L"-DisableDebugOutput"}).empty());
  EXPECT_TRUE(DebugScan({L"prog", L"--Debug"}).empty());
  EXPECT_TRUE(DebugScan({L"prog", L"/Debug", L"Debug"}).empty());
  // Element 0 is scanned too.
  EXPECT_EQ(DebugScan({L"-Debug"}).size(), 1u);
}

TEST(ParseSessionArguments, UserEmailOrInvalidWithoutOne) {
  EXPECT_EQ(ParseSessionArguments({L"prog"}).UserEmail, L"");
  EXPECT_EQ(ParseSessionArguments({L"prog", L"-user:first", L"second"}).UserEmail, L"second");
  EXPECT_EQ(ParseSessionArguments({L"prog", L"-u", L"-Debug"}).UserEmail, L"-Debug");
  EXPECT_EQ(ParseSessionArguments({L"prog", L"-U", L"a@b", L"-USER", L"c@d"}).UserEmail, L"c@d");
  // Element 0 is the program path, never an option.
  EXPECT_EQ(ParseSessionArguments({L"-u", L"x"}).UserEmail, L"");
  // A user option without a value is invalid.
  for (const wchar_t* last : {L"-user", L"-u", L"-user:first", L"-U"})
    EXPECT_EQ(RaisedCode([&] {
                ParseSessionArguments({L"prog", last});
              }),
              static_cast<std::uint32_t>(E_INVALIDARG))
        << last;
}

TEST(ParseSessionArguments, AdapterAndSecondsOptions) {
  EXPECT_TRUE(ParseSessionArguments({L"p", L"-adapter:SOFTWARE"}).Options.UseSoftwareAdapter);
  EXPECT_FALSE(ParseSessionArguments({L"p", L"-Adapter:Hardware"}).Options.UseSoftwareAdapter);
  EXPECT_FALSE(ParseSessionArguments({L"p", L"-Adapter"}).Options.UseSoftwareAdapter);
  EXPECT_EQ(ParseSessionArguments({L"p", L"-Seconds:2"}).Options.ClipSeconds, 2u);
  EXPECT_EQ(ParseSessionArguments({L"p", L"-seconds:600"}).Options.ClipSeconds, 600u);
  for (const wchar_t* bad : {L"-Seconds:0", L"-Seconds:601", L"-Seconds:-5", L"-Seconds:2.5",
                             L"-Seconds:", L"-Seconds:x", L"-Seconds:99999999999"})
    EXPECT_EQ(ParseSessionArguments({L"p", bad}).Options.ClipSeconds, 0u) << bad;
}

TEST(ParseSessionArguments, ReportOption) {
  const SessionOptions plain = ParseSessionArguments({L"p", L"-Seconds:2"}).Options;
  EXPECT_FALSE(plain.WriteReport);
  const SessionOptions named = ParseSessionArguments({L"p", L"-REPORT:/tmp/a:b.json"}).Options;
  EXPECT_TRUE(named.WriteReport);
  EXPECT_EQ(named.ReportPath, L"/tmp/a:b.json");
  const SessionOptions unnamed = ParseSessionArguments({L"p", L"-report"}).Options;
  EXPECT_TRUE(unnamed.WriteReport);
  EXPECT_EQ(unnamed.ReportPath, L"");
}

TEST(ArgumentList, DecodesUtf8AndSurvivesOddBytes) {
  char a0[] = "corvantis";
  char a1[] = "-u";
  char a2[] = "J\xc3\xbcrgen@example.org";
  char a3[] = "\xff\xfe-x";
  char a4[] = "";
  char* argv[] = {a0, a1, a2, a3, a4, nullptr};
  auto list = ArgumentListFromArgv(5, argv);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[2], L"J\u00fcrgen@example.org");
  EXPECT_EQ(list[3], L"\uFFFD\uFFFD-x");
  EXPECT_EQ(list[4], L"");
}

ProcessRoles RecordingRoles(std::vector<std::string>& calls, bool child = false) {
  ProcessRoles roles;
  roles.RunDebuggerChild = [&calls, child](const std::vector<std::wstring>&) {
    calls.push_back("child?");
    return child;
  };
  roles.EnterBenchmarkRole = [&calls] { calls.push_back("benchmark role"); };
  roles.StartDebuggerChild = [&calls](const DebugOptions&) {
    calls.push_back("start");
    return true;
  };
  roles.RunBenchmarkSession = [&calls](BenchmarkSession&) {
    calls.push_back("session");
    return 0;
  };
  return roles;
}

TEST(RunProcess, RolesAndExitCodes) {
  std::vector<std::string> calls;
  EXPECT_EQ(RunProcess({L"p", L"-a", L"-b"}, RecordingRoles(calls, true)), 3);
  EXPECT_EQ(calls, (std::vector<std::string>{"child?"}));

  calls.clear();
  EXPECT_EQ(RunProcess({L"p", L"-Debug"}, RecordingRoles(calls)), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"child?", "benchmark role", "start", "session"}));
}

TEST(RunProcess, InvalidArgumentStartsNothing) {
  StringConsole err;
  ScopedConsoleRedirect redirect(err, ScopedConsoleRedirect::Stream::Err);
  std::vector<std::string> calls;
  EXPECT_EQ(RunProcess({L"p", L"-user"}, RecordingRoles(calls)), kExitInvalidArgument);
  EXPECT_EQ(calls, (std::vector<std::string>{"child?", "benchmark role"}));
  EXPECT_NE(err.Text().find(L"-user"), std::wstring::npos);
  EXPECT_EQ(err.Text().back(), L'\n');
}

TEST(RunProcess, EscapingErrorIsReportedNotThrown) {
  StringConsole err;
  ScopedConsoleRedirect redirect(err, ScopedConsoleRedirect::Stream::Err);
  ProcessRoles roles;
  roles.RunBenchmarkSession = [](BenchmarkSession&) -> int {
    throw hresult_error(E_FAIL, L"boom");
  };
  EXPECT_EQ(RunProcess({L"p"}, roles), kExitFailure);
  EXPECT_EQ(err.Text(), L"corvantis: boom (0x80004005)\n");
  // A debugger child that cannot attach ends quietly and starts no benchmark.
  StringConsole childErr;
  ScopedConsoleRedirect childRedirect(childErr, ScopedConsoleRedirect::Stream::Err);
  roles.RunDebuggerChild = [](const std::vector<std::wstring>&) -> bool {
    throw hresult_error(E_FAIL, L"attach");
  };
  EXPECT_EQ(RunProcess({L"p"}, roles), kExitFailure);
  EXPECT_EQ(childErr.Text(), L"");
}

TEST(RunProcess, OddArgumentListsDoNotCrash) {
  std::vector<std::string> calls;
  const std::wstring longArg =
      L"-" + std::wstring(100000, L'x') + L":" + std::wstring(100000, L'y');
  for (std::vector<std::wstring> args : std::vector<std::vector<std::wstring>>{
           {}, {L""}, {L"p", L""}, {L"p", L"-"}, {L"p", L":"}, {L"p", longArg}, {L"p", L"-:"}}) {
    calls.clear();
    EXPECT_EQ(RunProcess(args, RecordingRoles(calls)), 0);
    EXPECT_EQ(calls.back(), "session");
  }
}

TEST(RunProcess, HelpPrintsUsageAndStartsNothing) {
  StringConsole out;
  ScopedConsoleRedirect redirect(out);
  std::vector<std::string> calls;
  for (const wchar_t* help : {L"-?", L"-h", L"-HELP", L"--help"}) {
    calls.clear();
    EXPECT_EQ(RunProcess({L"p", L"-Debug", help}, RecordingRoles(calls)), 0) << help;
    EXPECT_EQ(calls, (std::vector<std::string>{"child?"})) << help;
  }
  EXPECT_EQ(out.Text().rfind(L"Usage: corvantis", 0), 0u);
  // The address after -u is not an option, and other unknown options stay ignored.
  for (const wchar_t* other : {L"-help:x", L"-hh", L"/?", L"---help"}) {
    calls.clear();
    RunProcess({L"p", L"-u", L"-h", other}, RecordingRoles(calls));
    EXPECT_EQ(calls.back(), "session") << other;
  }
}

}  // namespace

}  // namespace corvantis
