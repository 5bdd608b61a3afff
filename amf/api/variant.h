#pragma once
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "amf/api/result.h"

namespace amf {

class AMFInterface;

enum AMF_VARIANT_TYPE : std::int32_t {
  AMF_VARIANT_EMPTY = 0,
  AMF_VARIANT_BOOL = 1,
  AMF_VARIANT_INT64 = 2,
  AMF_VARIANT_DOUBLE = 3,
  AMF_VARIANT_RECT = 4,
  AMF_VARIANT_SIZE = 5,
  AMF_VARIANT_POINT = 6,
  AMF_VARIANT_RATE = 7,
  AMF_VARIANT_RATIO = 8,
  AMF_VARIANT_COLOR = 9,
  AMF_VARIANT_STRING = 10,
  AMF_VARIANT_WSTRING = 11,
  AMF_VARIANT_INTERFACE = 12,
  AMF_VARIANT_FLOAT = 13,
};

struct AMFRect {
  amf_int32 left, top, right, bottom;
};
struct AMFSize {
  amf_int32 width, height;
};
struct AMFPoint {
  amf_int32 x, y;
};
struct AMFRate {
  amf_uint32 num, den;
};
struct AMFRatio {
  amf_uint32 num, den;
};
struct AMFColor {
  std::uint8_t r, g, b, a;
};

inline AMFRate AMFConstructRate(amf_uint32 num, amf_uint32 den) { return AMFRate{num, den}; }

// A tagged property value. A string owns its characters (malloc'd), an interface value owns one
// reference; AMFVariantClear releases what the value owns.
struct AMFVariantStruct {
  AMF_VARIANT_TYPE type;
  union {
    amf_bool boolValue;
    amf_int64 int64Value;
    amf_double doubleValue;
    char* stringValue;
    wchar_t* wstringValue;
    AMFInterface* pInterface;
    AMFRect rectValue;
    AMFSize sizeValue;
    AMFPoint pointValue;
    AMFRate rateValue;
    AMFRatio ratioValue;
    AMFColor colorValue;
    amf_float floatValue;
  };
};

AMF_RESULT AMFVariantInit(AMFVariantStruct* variant);
AMF_RESULT AMFVariantClear(AMFVariantStruct* variant);
// dest is cleared first; strings are duplicated and interfaces acquired.
AMF_RESULT AMFVariantCopy(AMFVariantStruct* dest, const AMFVariantStruct* src);
// Converts src into newType in dest (dest may be src). Numbers convert among themselves; strings
// convert to numbers when they hold a decimal number or a hexadecimal one after "0x".
// AMF_INVALID_DATA_TYPE when no conversion exists, AMF_OUT_OF_RANGE for a number with no INT64
// value (NaN, infinite, beyond the 64-bit range); dest is then EMPTY.
AMF_RESULT AMFVariantChangeType(AMFVariantStruct* dest, const AMFVariantStruct* src,
                                AMF_VARIANT_TYPE newType);

AMF_RESULT AMFVariantAssignBool(AMFVariantStruct* dest, bool value);
AMF_RESULT AMFVariantAssignInt64(AMFVariantStruct* dest, amf_int64 value);
AMF_RESULT AMFVariantAssignDouble(AMFVariantStruct* dest, amf_double value);
AMF_RESULT AMFVariantAssignRate(AMFVariantStruct* dest, AMFRate value);
AMF_RESULT AMFVariantAssignString(AMFVariantStruct* dest, const char* value);
AMF_RESULT AMFVariantAssignWString(AMFVariantStruct* dest, const wchar_t* value);
AMF_RESULT AMFVariantAssignInterface(AMFVariantStruct* dest, AMFInterface* value);

}  // namespace amf
