#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "debug_capture/debug_options.h"
#include "platform/option_syntax.h"
#include "scenarios/benchmark_session.h"

namespace corvantis {

// argv decoded from UTF-8 (malformed bytes become U+FFFD); element 0 is the program path.
std::vector<std::wstring> ArgumentListFromArgv(int argc, char** argv);

// The number StrToIntExW with STIF_SUPPORT_HEX reads (blanks, sign, decimal or 0x hexadecimal,
// up to the first other character, low 32 bits); 0 when it reads none.
std::int32_t StrToIntHex(const std::wstring& text);

// Dump type for the value of the "Debug" option: "" and "Normal" 0, "Full" 0x1826 (any case),
// otherwise the number in the value.
std::uint32_t DumpTypeFromValue(const std::wstring& value);

// Scans the whole list: "DisableDebugOutput" sets the flag; the first "Debug" starts the child
// with the options as they stand and ends the scan.
template <typename StartChild>
void ApplyDebugArguments(const std::vector<std::wstring>& arguments,
                         StartChild&& startDebuggerChild);

// Builds the session from the list: "-user"/"-u" takes the next element as the e-mail (the last
// such option wins); raises E_INVALIDARG when nothing follows it. Also reads "-Adapter:Software"
// or "-Adapter:<choice>" (the last wins; the choice is checked against the adapters later),
// "-Seconds:N" (1..600; other values are ignored) and "-Report[:path]".
BenchmarkSession ParseSessionArguments(const std::vector<std::wstring>& arguments);

// True when an argument is "-ListAdapters", not counting the e-mail address of "-user"/"-u".
bool AsksForAdapterList(const std::vector<std::wstring>& arguments);

// True when an argument is "-?", "-h", "-help" or "--help" (any case), not counting the element
// that "-user"/"-u" takes as the e-mail address.
bool AsksForHelp(const std::vector<std::wstring>& arguments);

// Case-insensitive comparison in the manner of _wcsicmp (ASCII letters folded).
bool EqualsIgnoreCase(const std::wstring& a, const wchar_t* b);

template <typename StartChild>
void ApplyDebugArguments(const std::vector<std::wstring>& arguments,
                         StartChild&& startDebuggerChild) {
  DebugOptions options;
  for (const std::wstring& argument : arguments) {
    std::wstring name, value;
    if (!SplitArgument(argument, name, value)) continue;
    if (EqualsIgnoreCase(name, L"DisableDebugOutput")) {
      options.DisableDebugOutput = 1;
      continue;
    }
    if (EqualsIgnoreCase(name, L"Debug")) {
      options.DumpType = DumpTypeFromValue(value);
      startDebuggerChild(options);
      return;
    }
  }
}

}  // namespace corvantis
