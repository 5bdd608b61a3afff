// The command line as the process receives it: NUL-separated UTF-8 arguments, malformed bytes
// included, through the argument list, the option syntax, the session arguments and the debug
// arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "fuzz/fuzz_check.h"
#include "platform/hresult.h"
#include "platform/hresult_error.h"

using namespace corvantis;

namespace {

void CheckSplit(const std::wstring& argument) {
  std::wstring name = L"unchanged", value = L"unchanged";
  if (!SplitArgument(argument, name, value)) {
    FUZZ_CHECK(argument.empty() || argument[0] != L'-');
    FUZZ_CHECK(name == L"unchanged" && value == L"unchanged");
    return;
  }
  FUZZ_CHECK(name.find(L':') == std::wstring::npos);
  const bool hasColon = argument.find(L':') != std::wstring::npos;
  FUZZ_CHECK(argument == L"-" + name + (hasColon ? L":" + value : std::wstring()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> storage(1, "corvantis");
  std::string current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      storage.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  storage.push_back(current);
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  const std::vector<std::wstring> arguments =
      ArgumentListFromArgv(static_cast<int>(storage.size()), argv.data());
  FUZZ_CHECK(arguments.size() == storage.size());
  for (const std::wstring& argument : arguments) {
    CheckSplit(argument);
    for (wchar_t c : argument)
      FUZZ_CHECK(c != 0 && (static_cast<std::uint32_t>(c) < 0xD800 ||
                            (static_cast<std::uint32_t>(c) > 0xDFFF &&
                             static_cast<std::uint32_t>(c) <= 0x10FFFF)));
  }

  try {
    const BenchmarkSession session = ParseSessionArguments(arguments);
    FUZZ_CHECK(session.Options.ClipSeconds <= 600);
  } catch (const hresult_error& error) {
    // Only a trailing -user/-u without its e-mail is refused.
    FUZZ_CHECK(error.code() == E_INVALIDARG);
    std::wstring name, value;
    FUZZ_CHECK(SplitArgument(arguments.back(), name, value));
    FUZZ_CHECK(EqualsIgnoreCase(name, L"user") || EqualsIgnoreCase(name, L"u"));
  }

  int started = 0;
  ApplyDebugArguments(arguments, [&](const DebugOptions& options) {
    ++started;
    FUZZ_CHECK(options.DisableDebugOutput == 0 || options.DisableDebugOutput == 1);
  });
  FUZZ_CHECK(started <= 1);
  for (const std::wstring& argument : arguments) (void)DumpTypeFromValue(argument);
  return 0;
}
