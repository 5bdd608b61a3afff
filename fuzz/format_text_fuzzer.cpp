// FormatWide and FormatNarrow with the program's own format strings and arguments of any value:
// text of any length and any code point, numbers of any magnitude, NaN and infinities.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/format_text.h"
#include "platform/utf.h"

using namespace corvantis;

namespace {

constexpr std::size_t kMaxChars = 8191;

std::wstring AnyWide(FuzzedDataProvider& input) {
  std::wstring text;
  const std::size_t n = input.ConsumeIntegralInRange<std::size_t>(0, 10000);
  const auto c = static_cast<wchar_t>(input.ConsumeIntegralInRange<std::uint32_t>(1, 0x10FFFF));
  // A long run of one character reaches the buffer's limit without a long input.
  if (input.ConsumeIntegralInRange<int>(0, 7) == 0) return std::wstring(n, c);
  while (text.size() < 64 && input.remaining_bytes() > 0) {
    const auto next =
        static_cast<wchar_t>(input.ConsumeIntegralInRange<std::uint32_t>(0, 0x10FFFF));
    if (next == 0) break;
    text.push_back(next);
  }
  return text;
}

std::string AnyNarrow(FuzzedDataProvider& input) {
  if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
    return std::string(input.ConsumeIntegralInRange<std::size_t>(0, 10000),
                       input.ConsumeIntegralInRange<char>(1, 127));
  std::string text = input.ConsumeRandomLengthString(64);
  return text.substr(0, std::strlen(text.c_str()));
}

double AnyDouble(FuzzedDataProvider& input) {
  const std::uint64_t bits = input.ConsumeIntegral<std::uint64_t>();
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

bool IsValidUnicode(const std::wstring& text) { return WideToUtf8Strict(text).has_value(); }

bool EndsWith(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void CheckEcho(const std::wstring& got, const std::wstring& expected) {
  FUZZ_CHECK(got == expected.substr(0, kMaxChars));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const unsigned u1 = input.ConsumeIntegral<unsigned>(), u2 = input.ConsumeIntegral<unsigned>();
  const unsigned u3 = input.ConsumeIntegral<unsigned>(), u4 = input.ConsumeIntegral<unsigned>();
  const double d1 = AnyDouble(input), d2 = AnyDouble(input);
  std::wstring wide;
  std::string narrow;
  switch (input.ConsumeIntegralInRange<int>(0, 13)) {
    case 0: {
      wide = AnyWide(input);
      CheckEcho(FormatWide(L"%ls (Corvantis)\n\n", wide.c_str()), wide + L" (Corvantis)\n\n");
      break;
    }
    case 1: {
      const std::wstring text =
          FormatWide(L"Vendor 0x%04X, Device 0x%04X, 0x%04X, 0x%04X", u1, u2, u3, u4);
      FUZZ_CHECK(text.rfind(L"Vendor 0x", 0) == 0);
      break;
    }
    case 2: {
      wide = AnyWide(input);
      const std::wstring text = FormatWide(L"corvantis: %ls (0x%08X)", wide.c_str(), u1);
      FUZZ_CHECK(text.size() <= kMaxChars);
      break;
    }
    case 3: {
      narrow = AnyNarrow(input);
      const std::wstring text = FormatWide(L"corvantis: %hs", narrow.c_str());
      if (WideToUtf8Strict(Utf8ToWide(narrow)) == narrow)
        CheckEcho(text, L"corvantis: " + Utf8ToWide(narrow));
      break;
    }
    case 4:
      CheckEcho(FormatWide(L"AMF error %u\n", u1), L"AMF error " + std::to_wstring(u1) + L"\n");
      break;
    case 5: {
      const std::wstring text =
          FormatWide(L"%04u%02u%02u-%02u%02u%02u-%ux%u@%.2f", u1 & 0xFFFF, u2 & 0xFFFF, u3 & 0xFFFF,
                     u4 & 0xFFFF, u1 >> 16, u2 >> 16, u3, u4, d1);
      FUZZ_CHECK(!text.empty() && text.size() <= kMaxChars);
      break;
    }
    case 6: {
      narrow = AnyNarrow(input);
      const std::wstring text = FormatWide(L"%ux%u@%.0f\t%hs", u1, u2, d1, narrow.c_str());
      if (WideToUtf8Strict(Utf8ToWide(narrow)) == narrow) {
        FUZZ_CHECK(text.size() == kMaxChars || EndsWith(text, L"\t" + Utf8ToWide(narrow)));
      }
      break;
    }
    case 7: {
      wide = AnyWide(input);
      narrow = AnyNarrow(input);
      const std::wstring text = FormatWide(L"%s; AMF %hs", wide.c_str(), narrow.c_str());
      if (IsValidUnicode(wide) && WideToUtf8Strict(Utf8ToWide(narrow)) == narrow)
        CheckEcho(text, wide + L"; AMF " + Utf8ToWide(narrow));
      break;
    }
    case 8: {
      const std::wstring text = FormatWide(
          L"Video: %u x %u, 32-bit RGB, %.2f frames per second, %u seconds", u1, u2, d1, u3);
      FUZZ_CHECK(text.rfind(L"Video: ", 0) == 0 && text.size() <= kMaxChars);
      break;
    }
    case 9: FUZZ_CHECK(!FormatWide(L"Average Encoding Time: %.2f ms", d1).empty()); break;
    case 10: {
      const std::wstring text =
          FormatWide(L"Elapsed Time: %.1f seconds (%.2f%% to expected)", d1, d2);
      FUZZ_CHECK(EndsWith(text, L"% to expected)"));
      break;
    }
    case 11: {
      wide = AnyWide(input);
      const std::wstring text =
          FormatWide(L"Trying to record %zu %ls clips, %u seconds long each clip...",
                     std::size_t{u1}, wide.c_str(), u2);
      if (IsValidUnicode(wide)) FUZZ_CHECK(text.rfind(L"Trying to record ", 0) == 0);
      break;
    }
    case 12: {
      const std::string text =
          FormatNarrow("%u.%u.%u.%u", u1 & 0xFFFF, u2 & 0xFFFF, u3 & 0xFFFF, u4 & 0xFFFF);
      FUZZ_CHECK(text == std::to_string(u1 & 0xFFFF) + "." + std::to_string(u2 & 0xFFFF) + "." +
                             std::to_string(u3 & 0xFFFF) + "." + std::to_string(u4 & 0xFFFF));
      break;
    }
    case 13: {
      const std::string text = FormatNarrow("%.2f", d1);
      FUZZ_CHECK(!text.empty() && text.size() <= kMaxChars && text.find(',') == std::string::npos);
      FUZZ_CHECK(FormatNarrow("0x%04X", u1).size() >= 6);
      break;
    }
  }
  return 0;
}
