#include "app/command_line.h"

#include <cwctype>

#include "platform/hresult_error.h"
#include "platform/utf.h"

namespace corvantis {

std::vector<std::wstring> ArgumentListFromArgv(int argc, char** argv) {
  std::vector<std::wstring> list;
  list.reserve(static_cast<std::size_t>(argc > 0 ? argc : 0));
  for (int i = 0; i < argc; ++i) list.push_back(Utf8ToWide(argv[i] ? argv[i] : ""));
  return list;
}

namespace {

wchar_t FoldCase(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

bool EqualsIgnoreCase(const std::wstring& a, const wchar_t* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return i == a.size() && b[i] == 0;
}

std::int32_t StrToIntHex(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  std::uint32_t value = 0;
  // A hexadecimal number ignores its sign.
  if (i + 2 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X') &&
      HexDigit(text[i + 2]) >= 0) {
    for (i += 2; i < text.size() && HexDigit(text[i]) >= 0; ++i)
      value = value * 16u + static_cast<std::uint32_t>(HexDigit(text[i]));
    return static_cast<std::int32_t>(value);
  }
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(text[i] - L'0');
  return static_cast<std::int32_t>(negative ? 0u - value : value);
}

std::uint32_t DumpTypeFromValue(const std::wstring& value) {
  if (value.empty() || EqualsIgnoreCase(value, L"Normal")) return 0;
  if (EqualsIgnoreCase(value, L"Full")) return kMiniDumpFull;
  return static_cast<std::uint32_t>(StrToIntHex(value));
}

namespace {

// A whole number from 1 to 600 of decimal digits only; 0 for anything else.
std::uint32_t ParseClipSeconds(const std::wstring& value) {
  if (value.empty() || value.size() > 3) return 0;
  std::uint32_t n = 0;
  for (wchar_t c : value) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  return n >= 1 && n <= 600 ? n : 0;
}

}  // namespace

BenchmarkSession ParseSessionArguments(const std::vector<std::wstring>& arguments) {
  BenchmarkSession session;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::wstring name, value;
    if (!SplitArgument(arguments[i], name, value)) continue;
    if (EqualsIgnoreCase(name, L"user") || EqualsIgnoreCase(name, L"u")) {
      if (i + 1 >= arguments.size())
        throw hresult_error(E_INVALIDARG,
                            L"The option -" + name + L" needs an e-mail address after it.");
      session.UserEmail = arguments[++i];
    } else if (EqualsIgnoreCase(name, L"Adapter")) {
      session.Options.UseSoftwareAdapter = EqualsIgnoreCase(value, L"Software");
      session.Options.AdapterChoice.reset();
      if (!session.Options.UseSoftwareAdapter) session.Options.AdapterChoice = value;
    } else if (EqualsIgnoreCase(name, L"Seconds")) {
      if (const std::uint32_t seconds = ParseClipSeconds(value))
        session.Options.ClipSeconds = seconds;
    } else if (EqualsIgnoreCase(name, L"Report")) {
      session.Options.WriteReport = true;
      session.Options.ReportPath = value;
    }
  }
  return session;
}

bool AsksForAdapterList(const std::vector<std::wstring>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::wstring name, value;
    if (!SplitArgument(arguments[i], name, value)) continue;
    if (EqualsIgnoreCase(name, L"user") || EqualsIgnoreCase(name, L"u"))
      ++i;
    else if (EqualsIgnoreCase(name, L"ListAdapters"))
      return true;
  }
  return false;
}

bool AsksForHelp(const std::vector<std::wstring>& arguments) {
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::wstring name, value;
    if (!SplitArgument(arguments[i], name, value)) continue;
    if (EqualsIgnoreCase(name, L"user") || EqualsIgnoreCase(name, L"u")) {
      ++i;  // the e-mail address, whatever it holds
      continue;
    }
    if (value.empty() && (name == L"?" || EqualsIgnoreCase(name, L"h") ||
                          EqualsIgnoreCase(name, L"help") || EqualsIgnoreCase(name, L"-help")))
      return true;
  }
  return false;
}

}  // namespace corvantis
