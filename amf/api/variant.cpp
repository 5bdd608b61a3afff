#include "amf/api/variant.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "amf/api/interfaces.h"

namespace amf {
namespace {

char* DuplicateString(const char* s) {
  const std::size_t n = std::strlen(s) + 1;
  auto* copy = static_cast<char*>(std::malloc(n));
  if (copy) std::memcpy(copy, s, n);
  return copy;
}

wchar_t* DuplicateWString(const wchar_t* s) {
  const std::size_t n = std::wcslen(s) + 1;
  auto* copy = static_cast<wchar_t*>(std::malloc(n * sizeof(wchar_t)));
  if (copy) std::wmemcpy(copy, s, n);
  return copy;
}

// The text as ASCII; false when it holds anything else (which no number does).
template <typename Char>
bool ToAscii(const Char* text, std::string* ascii) {
  for (const Char* p = text; *p; ++p) {
    const auto c = static_cast<std::uint32_t>(*p);
    if (c > 0x7F) return false;
    ascii->push_back(static_cast<char>(c));
  }
  return true;
}

enum class IntegerText { NotAnInteger, Fits, TooLarge };

// Parses the whole text (surrounding blanks allowed) as a decimal or 0x-hexadecimal integer. A
// hexadecimal text is a bit pattern (0xFFFFFFFFFFFFFFFF is -1); a decimal one beyond INT64 is too
// large rather than wrapped.
IntegerText ParseInteger(const std::string& ascii, amf_int64* out) {
  const char* s = ascii.c_str();
  while (*s == ' ' || *s == '\t') ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = (*s++ == '-');
  int base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s += 2;
  }
  if (!std::isxdigit(static_cast<unsigned char>(*s))) return IntegerText::NotAnInteger;
  char* end = nullptr;
  errno = 0;
  const unsigned long long magnitude = std::strtoull(s, &end, base);
  const bool outOfRange = errno == ERANGE;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return IntegerText::NotAnInteger;
  constexpr unsigned long long kLargestPositive = 0x7FFFFFFFFFFFFFFFull;
  if (outOfRange || (base == 10 && magnitude > kLargestPositive + (negative ? 1 : 0)))
    return IntegerText::TooLarge;
  // Negated in unsigned arithmetic: "-9223372036854775808" has no positive counterpart.
  *out = static_cast<amf_int64>(negative ? 0 - magnitude : magnitude);
  return IntegerText::Fits;
}

bool ParseDouble(const std::string& ascii, amf_double* out) {
  char* end = nullptr;
  const double value = std::strtod(ascii.c_str(), &end);
  if (end == ascii.c_str()) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  *out = value;
  return true;
}

}  // namespace

AMF_RESULT AMFVariantInit(AMFVariantStruct* variant) {
  if (variant == nullptr) return AMF_INVALID_POINTER;
  std::memset(static_cast<void*>(variant), 0, sizeof *variant);
  variant->type = AMF_VARIANT_EMPTY;
  return AMF_OK;
}

AMF_RESULT AMFVariantClear(AMFVariantStruct* variant) {
  if (variant == nullptr) return AMF_INVALID_POINTER;
  switch (variant->type) {
    case AMF_VARIANT_STRING: std::free(variant->stringValue); break;
    case AMF_VARIANT_WSTRING: std::free(variant->wstringValue); break;
    case AMF_VARIANT_INTERFACE:
      if (variant->pInterface) variant->pInterface->Release();
      break;
    default: break;
  }
  return AMFVariantInit(variant);
}

AMF_RESULT AMFVariantCopy(AMFVariantStruct* dest, const AMFVariantStruct* src) {
  if (dest == nullptr || src == nullptr) return AMF_INVALID_POINTER;
  if (dest == src) return AMF_OK;
  AMFVariantClear(dest);
  switch (src->type) {
    case AMF_VARIANT_STRING: return AMFVariantAssignString(dest, src->stringValue);
    case AMF_VARIANT_WSTRING: return AMFVariantAssignWString(dest, src->wstringValue);
    case AMF_VARIANT_INTERFACE: return AMFVariantAssignInterface(dest, src->pInterface);
    default: std::memcpy(static_cast<void*>(dest), src, sizeof *dest); return AMF_OK;
  }
}

namespace {

// Replaces what dest holds by a value of `type` that `set` writes.
template <typename Set>
AMF_RESULT Store(AMFVariantStruct* dest, AMF_VARIANT_TYPE type, Set set) {
  if (dest == nullptr) return AMF_INVALID_POINTER;
  AMFVariantClear(dest);
  dest->type = type;
  set(*dest);
  return AMF_OK;
}

}  // namespace

AMF_RESULT AMFVariantAssignBool(AMFVariantStruct* dest, bool value) {
  return Store(dest, AMF_VARIANT_BOOL, [&](AMFVariantStruct& v) { v.boolValue = value; });
}

AMF_RESULT AMFVariantAssignInt64(AMFVariantStruct* dest, amf_int64 value) {
  return Store(dest, AMF_VARIANT_INT64, [&](AMFVariantStruct& v) { v.int64Value = value; });
}

AMF_RESULT AMFVariantAssignDouble(AMFVariantStruct* dest, amf_double value) {
  return Store(dest, AMF_VARIANT_DOUBLE, [&](AMFVariantStruct& v) { v.doubleValue = value; });
}

AMF_RESULT AMFVariantAssignRate(AMFVariantStruct* dest, AMFRate value) {
  return Store(dest, AMF_VARIANT_RATE, [&](AMFVariantStruct& v) { v.rateValue = value; });
}

// Strings are copied before dest is cleared, so a value may come from dest itself.
AMF_RESULT AMFVariantAssignString(AMFVariantStruct* dest, const char* value) {
  if (dest == nullptr || value == nullptr) return AMF_INVALID_POINTER;
  char* copy = DuplicateString(value);
  if (copy == nullptr) return AMF_OUT_OF_MEMORY;
  return Store(dest, AMF_VARIANT_STRING, [&](AMFVariantStruct& v) { v.stringValue = copy; });
}

AMF_RESULT AMFVariantAssignWString(AMFVariantStruct* dest, const wchar_t* value) {
  if (dest == nullptr || value == nullptr) return AMF_INVALID_POINTER;
  wchar_t* copy = DuplicateWString(value);
  if (copy == nullptr) return AMF_OUT_OF_MEMORY;
  return Store(dest, AMF_VARIANT_WSTRING, [&](AMFVariantStruct& v) { v.wstringValue = copy; });
}

AMF_RESULT AMFVariantAssignInterface(AMFVariantStruct* dest, AMFInterface* value) {
  if (dest == nullptr) return AMF_INVALID_POINTER;
  if (value) value->Acquire();
  return Store(dest, AMF_VARIANT_INTERFACE, [&](AMFVariantStruct& v) { v.pInterface = value; });
}

namespace {

// What a variant holds as a number.
struct NumericValue {
  bool numeric = false;    // a number, or a text holding one
  bool isInteger = false;  // a bool, an INT64 or an integer text: written back without decimals
  bool intFits = false;    // `i` holds its INT64 value
  amf_int64 i = 0;
  amf_double d = 0;  // its double value, when numeric
};

NumericValue NumericValueOf(const AMFVariantStruct& from) {
  NumericValue value;
  bool haveDouble = false, integerTooLarge = false;
  switch (from.type) {
    case AMF_VARIANT_BOOL:
      value.i = from.boolValue ? 1 : 0;
      value.isInteger = true;
      break;
    case AMF_VARIANT_INT64:
      value.i = from.int64Value;
      value.isInteger = true;
      break;
    case AMF_VARIANT_DOUBLE:
      value.d = from.doubleValue;
      haveDouble = true;
      break;
    case AMF_VARIANT_FLOAT:
      value.d = static_cast<amf_double>(from.floatValue);
      haveDouble = true;
      break;
    case AMF_VARIANT_STRING:
    case AMF_VARIANT_WSTRING: {
      std::string ascii;
      const bool isAscii = from.type == AMF_VARIANT_STRING ? ToAscii(from.stringValue, &ascii)
                                                           : ToAscii(from.wstringValue, &ascii);
      if (isAscii) {
        const IntegerText integer = ParseInteger(ascii, &value.i);
        value.isInteger = integer == IntegerText::Fits;
        integerTooLarge = integer == IntegerText::TooLarge;
        if (!value.isInteger) haveDouble = ParseDouble(ascii, &value.d);
      }
      break;
    }
    default: break;
  }
  // A double has an INT64 value only when its whole part fits: not NaN, the infinities, nor
  // magnitudes from 2^63 up. The conversion exists, the value is out of range: AMF_OUT_OF_RANGE.
  value.intFits = value.isInteger;
  // An integer text too large keeps its double value but has no INT64 one, even where rounding
  // would bring the double into range.
  if (haveDouble && !integerTooLarge && value.d >= -0x1p63 && value.d < 0x1p63) {
    value.i = static_cast<amf_int64>(value.d);
    value.intFits = true;
  }
  if (value.isInteger) value.d = static_cast<amf_double>(value.i);
  value.numeric = value.isInteger || haveDouble;
  return value;
}

// A number as its text; a text as it is, narrowed to ASCII ('?' beyond) or widened byte by byte.
AMF_RESULT AssignText(AMFVariantStruct* dest, const AMFVariantStruct& from,
                      const NumericValue& value, AMF_VARIANT_TYPE newType) {
  const bool isText = from.type == AMF_VARIANT_STRING || from.type == AMF_VARIANT_WSTRING;
  char text[328];  // "%f" of -DBL_MAX: 309 digits, sign, point and six decimals
  if (value.isInteger) {
    std::snprintf(text, sizeof text, "%" PRId64, value.i);
  } else if (value.numeric) {
    std::snprintf(text, sizeof text, "%f", value.d);
  } else if (isText) {
    text[0] = '\0';
  } else {
    return AMF_INVALID_DATA_TYPE;
  }
  if (newType == AMF_VARIANT_STRING) {
    if (from.type == AMF_VARIANT_WSTRING && !value.numeric) {
      std::string narrow;
      for (const wchar_t* p = from.wstringValue; *p; ++p)
        narrow.push_back(static_cast<std::uint32_t>(*p) < 0x80 ? static_cast<char>(*p) : '?');
      AMFVariantAssignString(dest, narrow.c_str());
    } else {
      AMFVariantAssignString(dest, text);
    }
    return AMF_OK;
  }
  std::wstring wide;
  if (from.type == AMF_VARIANT_STRING && !value.numeric) {
    for (const char* p = from.stringValue; *p; ++p)
      wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  } else {
    for (const char* p = text; *p; ++p) wide.push_back(static_cast<wchar_t>(*p));
  }
  AMFVariantAssignWString(dest, wide.c_str());
  return AMF_OK;
}

AMF_RESULT AssignConverted(AMFVariantStruct* dest, const AMFVariantStruct& from,
                           AMF_VARIANT_TYPE newType) {
  const NumericValue value = NumericValueOf(from);
  switch (newType) {
    case AMF_VARIANT_EMPTY: return AMF_OK;
    case AMF_VARIANT_BOOL:
      if (!value.numeric) return AMF_INVALID_DATA_TYPE;
      AMFVariantAssignBool(dest, value.isInteger ? value.i != 0 : value.d != 0.0);
      return AMF_OK;
    case AMF_VARIANT_INT64:
      if (!value.intFits) return value.numeric ? AMF_OUT_OF_RANGE : AMF_INVALID_DATA_TYPE;
      AMFVariantAssignInt64(dest, value.i);
      return AMF_OK;
    case AMF_VARIANT_DOUBLE:
      if (!value.numeric) return AMF_INVALID_DATA_TYPE;
      AMFVariantAssignDouble(dest, value.d);
      return AMF_OK;
    case AMF_VARIANT_FLOAT:
      if (!value.numeric) return AMF_INVALID_DATA_TYPE;
      dest->type = AMF_VARIANT_FLOAT;
      dest->floatValue = static_cast<amf_float>(value.d);
      return AMF_OK;
    case AMF_VARIANT_STRING:
    case AMF_VARIANT_WSTRING: return AssignText(dest, from, value, newType);
    default: return AMF_INVALID_DATA_TYPE;
  }
}

}  // namespace

AMF_RESULT AMFVariantChangeType(AMFVariantStruct* dest, const AMFVariantStruct* src,
                                AMF_VARIANT_TYPE newType) {
  if (dest == nullptr) return AMF_INVALID_POINTER;
  if (src == nullptr) src = dest;
  if (src->type == newType) return AMFVariantCopy(dest, src);

  // Work on a copy so that dest may be src.
  AMFVariantStruct from;
  AMFVariantInit(&from);
  const AMF_RESULT copied = AMFVariantCopy(&from, src);
  if (copied != AMF_OK) return copied;
  AMFVariantClear(dest);
  const AMF_RESULT r = AssignConverted(dest, from, newType);
  AMFVariantClear(&from);
  return r;
}

}  // namespace amf
