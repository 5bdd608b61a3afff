#include "amf/amf_result.h"

#include "platform/format_text.h"
#include "platform/hresult_error.h"

namespace corvantis {

void CheckAmfResult(AMF_RESULT result) {
  if (result == AMF_OK) return;
  throw hresult_error(AmfResultToHResult(result),
                      FormatWide(L"AMF error %u\n", static_cast<unsigned>(result)));
}

namespace {

void SetAndCheck(amf::AMFPropertyStorage* storage, const wchar_t* name,
                 amf::AMFVariantStruct& value) {
  const AMF_RESULT result = storage->SetProperty(name, value);
  amf::AMFVariantClear(&value);
  CheckAmfResult(result);
}

}  // namespace

void SetAmfProperty(amf::AMFPropertyStorage* storage, const wchar_t* name, amf::amf_int64 value) {
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  amf::AMFVariantAssignInt64(&v, value);
  SetAndCheck(storage, name, v);
}

void SetAmfPropertyBool(amf::AMFPropertyStorage* storage, const wchar_t* name, bool value) {
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  amf::AMFVariantAssignBool(&v, value);
  SetAndCheck(storage, name, v);
}

void SetAmfPropertyRate(amf::AMFPropertyStorage* storage, const wchar_t* name, amf::AMFRate value) {
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  amf::AMFVariantAssignRate(&v, value);
  SetAndCheck(storage, name, v);
}

AMF_RESULT GetInt32Property(const amf::AMFPropertyStorage* storage, const wchar_t* name,
                            std::int32_t* value) {
  amf::AMFVariantStruct v;
  amf::AMFVariantInit(&v);
  const AMF_RESULT result = storage->GetProperty(name, &v);
  if (result != AMF_OK) {
    amf::AMFVariantClear(&v);
    return result;
  }
  amf::AMFVariantStruct converted;
  amf::AMFVariantInit(&converted);
  std::int64_t number = 0;
  if (v.type == amf::AMF_VARIANT_INT64) {
    number = v.int64Value;
  } else if (v.type != amf::AMF_VARIANT_EMPTY) {
    amf::AMFVariantChangeType(&converted, &v, amf::AMF_VARIANT_INT64);
    if (converted.type != amf::AMF_VARIANT_EMPTY) number = converted.int64Value;
  }
  *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(number & 0xFFFFFFFF));
  amf::AMFVariantClear(&v);
  amf::AMFVariantClear(&converted);
  return AMF_OK;
}

}  // namespace corvantis
