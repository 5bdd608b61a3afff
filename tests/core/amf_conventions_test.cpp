#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>

#include "amf/amf_result.h"
#include "platform/format_text.h"
#include "platform/hresult_error.h"
#include "tests/fakes/raised_code.h"

namespace corvantis {

namespace {

TEST(FormatText, MicrosoftStringConversions) {
  EXPECT_EQ(FormatWide(L"%s; AMF %hs", L"AVC", "1.4.16.0"), L"AVC; AMF 1.4.16.0");
  EXPECT_EQ(FormatWide(L"%ls (Corvantis)", L"Radeon"), L"Radeon (Corvantis)");
  EXPECT_EQ(FormatWide(L"%S|%hc|%c", "n", 'a', L'w'), L"n|a|w");
  EXPECT_EQ(FormatNarrow("%s %S %ls", "n", L"w1", L"w2"), "n w1 w2");
  EXPECT_EQ(FormatWide(L"%zu %I64d %%s", std::size_t{20}, 5LL), L"20 5 %s");
  EXPECT_EQ(FormatWide(L"%-4s|%5.2hs|", L"ab", "xyz"), L"ab  |   xy|");
  EXPECT_EQ(FormatWide(L"%hs", "J\xc3\xbcrgen"), L"J\u00fcrgen");
}

TEST(FormatText, NumbersUseAFullStopWhateverTheLocale) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  // A locale with a decimal comma, when the machine has one.
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, name)) break;
  }
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(FormatWide(L"%.2f", 3.14159), L"3.14");
  EXPECT_EQ(FormatNarrow("%.1f", 31.5), "31.5");
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(FormatText, LongTextIsCutAt8191CharactersAndABadArgumentGivesNoText) {
  const std::wstring longText(10000, L'a');
  EXPECT_EQ(FormatWide(L"%ls", longText.c_str()).size(), 8191u);
  // Longer than any buffer a retry could guess.
  const std::wstring hugeText(3 << 20, L'h');
  EXPECT_EQ(FormatWide(L"%ls!", hugeText.c_str()), std::wstring(8191, L'h'));
  EXPECT_EQ(FormatWide(L"[%hs]", "bad \xff UTF-8"), L"");
  const std::string longNarrow(10000, 'b');
  EXPECT_EQ(FormatNarrow("%s", longNarrow.c_str()).size(), 8191u);
}

TEST(CheckAmfResult, RaisesCodeAndMessage) {
  EXPECT_NO_THROW(CheckAmfResult(AMF_OK));
  try {
    CheckAmfResult(AMF_ENCODER_NOT_PRESENT);
    FAIL();
  } catch (const hresult_error& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.code()), 0xC14D0024u);
    EXPECT_EQ(e.message(), L"AMF error 36\n");
  }
  EXPECT_EQ(RaisedCode([] { CheckAmfResult(AMF_INPUT_FULL); }), 0xC14D0019u);
}

std::vector<std::pair<HRESULT, std::wstring>> g_origins;
void RecordOrigin(HRESULT code, const std::wstring& message) {
  g_origins.emplace_back(code, message);
}

TEST(HResultError, ReportsItsOrigin) {
  g_origins.clear();
  SetErrorOriginHook(&RecordOrigin);
  EXPECT_THROW(CheckAmfResult(AMF_FAIL), hresult_error);
  SetErrorOriginHook(nullptr);
  EXPECT_THROW(CheckAmfResult(AMF_FAIL), hresult_error);
  ASSERT_EQ(g_origins.size(), 1u);
  EXPECT_EQ(g_origins[0].first, AmfResultToHResult(AMF_FAIL));
  EXPECT_EQ(g_origins[0].second, L"AMF error 1\n");
}

// Property storage that records what it is given and answers from a map.
class FakeStorage : public amf::AMFPropertyStorage {
 public:
  amf::amf_long Acquire() override { return 1; }
  amf::amf_long Release() override { return 1; }
  AMF_RESULT QueryInterface(const amf::AMFGuid&, void**) override { return AMF_NO_INTERFACE; }
  AMF_RESULT SetProperty(const wchar_t* name, amf::AMFVariantStruct value) override {
    // The caller still owns `value`: keep a copy, as a real storage does.
    amf::AMFVariantStruct copy;
    amf::AMFVariantInit(&copy);
    amf::AMFVariantCopy(&copy, &value);
    Values[name] = copy;
    return SetResult;
  }
  AMF_RESULT GetProperty(const wchar_t* name, amf::AMFVariantStruct* out) const override {
    const auto it = Values.find(name);
    if (it == Values.end()) return AMF_NOT_FOUND;
    return amf::AMFVariantCopy(out, &it->second);
  }
  bool HasProperty(const wchar_t* name) const override { return Values.count(name) != 0; }
  amf::amf_size GetPropertyCount() const override { return Values.size(); }
  AMF_RESULT Clear() override { return AMF_OK; }
  ~FakeStorage() override {
    for (auto& [name, v] : Values) amf::AMFVariantClear(&v);
  }

  std::map<std::wstring, amf::AMFVariantStruct> Values;
  AMF_RESULT SetResult = AMF_OK;
};

TEST(GetInt32Property, ConvertsAndTruncates) {
  FakeStorage storage;
  SetAmfProperty(&storage, L"big", 0x100000002LL);
  SetAmfProperty(&storage, L"negative", -3);
  SetAmfPropertyBool(&storage, L"flag", true);
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  storage.Values[L"empty"] = v;
  amf::AMFVariantAssignWString(&v, L"0x20");
  storage.SetProperty(L"hex", v);
  amf::AMFVariantAssignString(&v, "17");
  storage.SetProperty(L"decimal", v);
  amf::AMFVariantAssignString(&v, "P-frame");
  storage.SetProperty(L"text", v);
  amf::AMFVariantClear(&v);

  std::int32_t out = -1;
  for (const auto& [name, expected] :
       {std::pair{L"big", 2}, std::pair{L"negative", -3}, std::pair{L"flag", 1},
        std::pair{L"empty", 0}, std::pair{L"hex", 32}, std::pair{L"decimal", 17}}) {
    out = -1;
    EXPECT_EQ(GetInt32Property(&storage, name, &out), AMF_OK) << name;
    EXPECT_EQ(out, expected) << name;
  }
  out = 5;
  EXPECT_EQ(GetInt32Property(&storage, L"text", &out), AMF_OK);
  EXPECT_EQ(out, 0);
  out = 99;
  EXPECT_EQ(GetInt32Property(&storage, L"missing", &out), AMF_NOT_FOUND);
  EXPECT_EQ(out, 99);
}

TEST(SetAmfProperty, ClearsBeforeCheckingAndRaisesFailures) {
  FakeStorage storage;
  storage.SetResult = AMF_INVALID_ARG;
  EXPECT_EQ(
      RaisedCode([&] { SetAmfPropertyRate(&storage, L"FrameRate", amf::AMFConstructRate(60, 1)); }),
      0xC14D0004u);
  ASSERT_EQ(storage.Values[L"FrameRate"].type, amf::AMF_VARIANT_RATE);
  EXPECT_EQ(storage.Values[L"FrameRate"].rateValue.num, 60u);
}

TEST(Variant, CopyOwnsStringsAndChangeTypeWorksInPlace) {
  amf::AMFVariantStruct a, b;
  amf::AMFVariantInit(&a);
  amf::AMFVariantInit(&b);
  amf::AMFVariantAssignWString(&a, L"123");
  amf::AMFVariantCopy(&b, &a);
  EXPECT_NE(a.wstringValue, b.wstringValue);
  amf::AMFVariantClear(&a);
  EXPECT_STREQ(b.wstringValue, L"123");
  EXPECT_EQ(amf::AMFVariantChangeType(&b, &b, amf::AMF_VARIANT_INT64), AMF_OK);
  EXPECT_EQ(b.type, amf::AMF_VARIANT_INT64);
  EXPECT_EQ(b.int64Value, 123);
  EXPECT_EQ(amf::AMFVariantChangeType(&a, &b, amf::AMF_VARIANT_WSTRING), AMF_OK);
  EXPECT_STREQ(a.wstringValue, L"123");
  // A value taken from the variant itself survives the assignment.
  amf::AMFVariantAssignWString(&a, a.wstringValue);
  EXPECT_STREQ(a.wstringValue, L"123");
  amf::AMFVariantAssignRate(&b, amf::AMFConstructRate(1, 2));
  EXPECT_EQ(amf::AMFVariantChangeType(&a, &b, amf::AMF_VARIANT_INT64), AMF_INVALID_DATA_TYPE);
  EXPECT_EQ(a.type, amf::AMF_VARIANT_EMPTY);
  amf::AMFVariantClear(&a);
  amf::AMFVariantClear(&b);
}

// A double with no INT64 value must not reach the cast (undefined behaviour; on x86 it
// silently gave INT64_MIN with AMF_OK).
TEST(Variant, NumbersWithoutAnInt64ValueAreOutOfRange) {
  amf::AMFVariantStruct from, to;
  amf::AMFVariantInit(&from);
  amf::AMFVariantInit(&to);
  for (const double d : {std::nan(""), HUGE_VAL, -HUGE_VAL, 0x1p63, -0x1p64, 1e300}) {
    SCOPED_TRACE(d);
    amf::AMFVariantAssignDouble(&from, d);
    amf::AMFVariantAssignInt64(&to, 7);
    EXPECT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_INT64), AMF_OUT_OF_RANGE);
    EXPECT_EQ(to.type, amf::AMF_VARIANT_EMPTY);
  }
  const std::pair<double, std::int64_t> fits[] = {
      {-0x1p63, INT64_MIN}, {0x1p63 - 1024, INT64_MAX - 1023}, {-2.9, -2}, {2.9, 2}};
  for (const auto& [d, expected] : fits) {
    amf::AMFVariantAssignDouble(&from, d);
    ASSERT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_INT64), AMF_OK);
    EXPECT_EQ(to.int64Value, expected);
  }
  // Text goes the same way; the most negative integer parses without overflowing.
  amf::AMFVariantAssignString(&from, "1e30");
  EXPECT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_INT64), AMF_OUT_OF_RANGE);
  amf::AMFVariantAssignString(&from, "-9223372036854775808");
  ASSERT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_INT64), AMF_OK);
  EXPECT_EQ(to.int64Value, INT64_MIN);
  // Decimal text beyond INT64 is out of range, not wrapped, also where the double rounds into
  // range; hexadecimal text is a bit pattern.
  for (const char* tooLarge :
       {"9223372036854775808", "18446744073709551615", "-9223372036854775809",
        "99999999999999999999", "0x10000000000000000"}) {
    amf::AMFVariantAssignString(&from, tooLarge);
    EXPECT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_INT64), AMF_OUT_OF_RANGE)
        << tooLarge;
  }
  amf::AMFVariantAssignString(&from, "9223372036854775808");
  ASSERT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_DOUBLE), AMF_OK);
  EXPECT_EQ(to.doubleValue, 0x1p63);
  amf::AMFVariantAssignString(&from, " 0xFFFFFFFFFFFFFFFF ");
  ASSERT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_INT64), AMF_OK);
  EXPECT_EQ(to.int64Value, -1);
  // A NaN property reads as 0, not as whatever the cast made of it.
  FakeStorage storage;
  amf::AMFVariantAssignDouble(&from, std::nan(""));
  storage.SetProperty(L"nan", from);
  std::int32_t out = -1;
  EXPECT_EQ(GetInt32Property(&storage, L"nan", &out), AMF_OK);
  EXPECT_EQ(out, 0);
  // A large double keeps all its digits as text.
  amf::AMFVariantAssignDouble(&from, -1e300);
  ASSERT_EQ(amf::AMFVariantChangeType(&to, &from, amf::AMF_VARIANT_STRING), AMF_OK);
  EXPECT_EQ(std::strlen(to.stringValue), 309u);
  amf::AMFVariantClear(&from);
  amf::AMFVariantClear(&to);
}

}  // namespace

}  // namespace corvantis
