#include "amf/api/variant.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cctype>
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
  if (outOfRange || (base == 10 && magnitude > kLargestPositive + (negative ? 1 : 0))) return IntegerText::TooLarge;
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

AMF_RESULT AMFVariantChangeType(AMFVariantStruct* dest, const AMFVariantStruct* src,
                                AMF_VARIANT_TYPE newType) {
  if (dest == nullptr) return AMF_INVALID_POINTER;
  if (src == nullptr) src = dest;
  if (src->type == newType) return AMFVariantCopy(dest, src);

  // Work on a copy so that dest may be src.
  AMFVariantStruct from;
  AMFVariantInit(&from);
  AMF_RESULT r = AMFVariantCopy(&from, src);
  if (r != AMF_OK) return r;
  AMFVariantClear(dest);

  bool haveInt = false, haveDouble = false, integerTooLarge = false;
  amf_int64 i = 0;
  amf_double d = 0;
  switch (from.type) {
    case AMF_VARIANT_BOOL: i = from.boolValue ? 1 : 0; haveInt = true; break;
    case AMF_VARIANT_INT64: i = from.int64Value; haveInt = true; break;
    case AMF_VARIANT_DOUBLE: d = from.doubleValue; haveDouble = true; break;
    case AMF_VARIANT_FLOAT: d = static_cast<amf_double>(from.floatValue); haveDouble = true; break;
    case AMF_VARIANT_STRING:
    case AMF_VARIANT_WSTRING: {
      std::string ascii;
      const bool isAscii = from.type == AMF_VARIANT_STRING ? ToAscii(from.stringValue, &ascii)
                                                           : ToAscii(from.wstringValue, &ascii);
      if (isAscii) {
        const IntegerText integer = ParseInteger(ascii, &i);
        haveInt = integer == IntegerText::Fits;
        integerTooLarge = integer == IntegerText::TooLarge;
        if (!haveInt) haveDouble = ParseDouble(ascii, &d);
      }
      break;
    }
    default: break;
  }
  // A double has an INT64 value only when its whole part fits: not NaN, the infinities, nor
  // magnitudes from 2^63 up. The conversion exists, the value is out of range: AMF_OUT_OF_RANGE.
  bool intFits = haveInt;
  // An integer text too large keeps its double value but has no INT64 one, even where rounding
  // would bring the double into range.
  if (haveDouble && !haveInt && !integerTooLarge && d >= -0x1p63 && d < 0x1p63) {
    i = static_cast<amf_int64>(d);
    intFits = true;
  }
  if (haveInt && !haveDouble) d = static_cast<amf_double>(i);
  const bool numeric = haveInt || haveDouble;

  r = AMF_OK;
  switch (newType) {
    case AMF_VARIANT_EMPTY: break;
    case AMF_VARIANT_BOOL:
      if (numeric) AMFVariantAssignBool(dest, haveInt ? i != 0 : d != 0.0);
      else r = AMF_INVALID_DATA_TYPE;
      break;
    case AMF_VARIANT_INT64:
      if (intFits) AMFVariantAssignInt64(dest, i);
      else r = numeric ? AMF_OUT_OF_RANGE : AMF_INVALID_DATA_TYPE;
      break;
    case AMF_VARIANT_DOUBLE:
      if (numeric) AMFVariantAssignDouble(dest, d);
      else r = AMF_INVALID_DATA_TYPE;
      break;
    case AMF_VARIANT_FLOAT:
      if (numeric) {
        dest->type = AMF_VARIANT_FLOAT;
        dest->floatValue = static_cast<amf_float>(d);
      } else {
        r = AMF_INVALID_DATA_TYPE;
      }
      break;
    case AMF_VARIANT_STRING:
    case AMF_VARIANT_WSTRING: {
      char text[328];  // "%f" of -DBL_MAX: 309 digits, sign, point and six decimals
      if (haveInt && from.type != AMF_VARIANT_DOUBLE && from.type != AMF_VARIANT_FLOAT) {
        std::snprintf(text, sizeof text, "%" PRId64, i);
      } else if (numeric) {
        std::snprintf(text, sizeof text, "%f", d);
      } else if (from.type == AMF_VARIANT_STRING || from.type == AMF_VARIANT_WSTRING) {
        text[0] = '\0';
      } else {
        r = AMF_INVALID_DATA_TYPE;
        break;
      }
      if (newType == AMF_VARIANT_STRING) {
        if (from.type == AMF_VARIANT_WSTRING && !numeric) {
          std::string narrow;
          for (const wchar_t* p = from.wstringValue; *p; ++p)
            narrow.push_back(static_cast<std::uint32_t>(*p) < 0x80 ? static_cast<char>(*p) : '?');
          AMFVariantAssignString(dest, narrow.c_str());
        } else {
          AMFVariantAssignString(dest, text);
        }
      } else {
        std::wstring wide;
        if (from.type == AMF_VARIANT_STRING && !numeric) {
          for (const char* p = from.stringValue; *p; ++p)
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
        } else {
          for (const char* p = text; *p; ++p) wide.push_back(static_cast<wchar_t>(*p));
        }
        AMFVariantAssignWString(dest, wide.c_str());
      }
      break;
    }
    default: r = AMF_INVALID_DATA_TYPE; break;
  }
  AMFVariantClear(&from);
  return r;
}

}  // namespace amf
