#pragma once
#include <cstdint>

#include "amf/api/interfaces.h"

namespace corvantis {

// Raises hresult_error 0xC14D0000 | result with "AMF error %u\n" for any non-zero result.
void CheckAmfResult(AMF_RESULT result);

// The HRESULT that CheckAmfResult raises for `result`.
constexpr std::int32_t AmfResultToHResult(AMF_RESULT result) {
  return static_cast<std::int32_t>(0xC14D0000u | static_cast<std::uint32_t>(result));
}

// Setting a property: the value is built, a copy passed, the local cleared, then the result
// checked.
void SetAmfProperty(amf::AMFPropertyStorage* storage, const wchar_t* name, amf::amf_int64 value);
void SetAmfPropertyBool(amf::AMFPropertyStorage* storage, const wchar_t* name, bool value);
void SetAmfPropertyRate(amf::AMFPropertyStorage* storage, const wchar_t* name, amf::AMFRate value);

// Reads a property as a signed 32-bit number: EMPTY gives 0, INT64 its low 32 bits, other types
// are converted to INT64 (0 when they do not convert). Returns GetProperty's result; on failure
// `value` is left untouched.
AMF_RESULT GetInt32Property(const amf::AMFPropertyStorage* storage, const wchar_t* name,
                            std::int32_t* value);

}  // namespace corvantis
