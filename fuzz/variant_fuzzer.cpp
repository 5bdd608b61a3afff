// Property values of every type converted to every type, in place and into another value, then
// copied and cleared: conversions stay defined, results agree with the type they claim, and every
// string and interface reference is released exactly once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "amf/api/interfaces.h"
#include "amf/api/variant.h"
#include "fuzz/fuzz_check.h"

using namespace amf;

namespace {

class CountedInterface final : public AMFInterface {
 public:
  amf_long Acquire() override { return ++references; }
  amf_long Release() override { return --references; }
  AMF_RESULT QueryInterface(const AMFGuid&, void**) override { return AMF_NO_INTERFACE; }
  amf_long references = 1;
};

constexpr AMF_VARIANT_TYPE kSourceTypes[] = {
    AMF_VARIANT_EMPTY,   AMF_VARIANT_BOOL,     AMF_VARIANT_INT64, AMF_VARIANT_DOUBLE,
    AMF_VARIANT_FLOAT,   AMF_VARIANT_RATE,     AMF_VARIANT_SIZE,  AMF_VARIANT_STRING,
    AMF_VARIANT_WSTRING, AMF_VARIANT_INTERFACE};

void Fill(FuzzedDataProvider& input, AMFVariantStruct* v, CountedInterface* object) {
  switch (input.PickValueInArray(kSourceTypes)) {
    case AMF_VARIANT_BOOL: AMFVariantAssignBool(v, input.ConsumeBool()); break;
    case AMF_VARIANT_INT64: AMFVariantAssignInt64(v, input.ConsumeIntegral<amf_int64>()); break;
    case AMF_VARIANT_DOUBLE: {
      // Raw bits reach NaN, infinities and subnormals as readily as ordinary numbers.
      const std::uint64_t bits = input.ConsumeIntegral<std::uint64_t>();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      AMFVariantAssignDouble(v, input.ConsumeBool() ? d : input.ConsumeFloatingPoint<double>());
      break;
    }
    case AMF_VARIANT_FLOAT:
      AMFVariantClear(v);
      v->type = AMF_VARIANT_FLOAT;
      v->floatValue = input.ConsumeFloatingPoint<float>();
      break;
    case AMF_VARIANT_RATE:
      AMFVariantAssignRate(v, AMFConstructRate(input.ConsumeIntegral<amf_uint32>(),
                                               input.ConsumeIntegral<amf_uint32>()));
      break;
    case AMF_VARIANT_SIZE:
      AMFVariantClear(v);
      v->type = AMF_VARIANT_SIZE;
      v->sizeValue = {input.ConsumeIntegral<amf_int32>(), input.ConsumeIntegral<amf_int32>()};
      break;
    case AMF_VARIANT_STRING:
      AMFVariantAssignString(v, input.ConsumeRandomLengthString(64).c_str());
      break;
    case AMF_VARIANT_WSTRING: {
      std::wstring wide;
      const std::size_t n = input.ConsumeIntegralInRange<std::size_t>(0, 32);
      for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<wchar_t>(input.ConsumeIntegral<std::uint32_t>() % 0x110100u);
        if (c == 0) break;
        wide.push_back(input.ConsumeBool() ? c : static_cast<wchar_t>(L' ' + c % 0x60));
      }
      AMFVariantAssignWString(v, wide.c_str());
      break;
    }
    case AMF_VARIANT_INTERFACE: AMFVariantAssignInterface(v, object); break;
    default: AMFVariantClear(v); break;
  }
}

void CheckConversion(const AMFVariantStruct& from, const AMFVariantStruct& to,
                     AMF_VARIANT_TYPE type, AMF_RESULT result) {
  if (result != AMF_OK) {
    FUZZ_CHECK(to.type == AMF_VARIANT_EMPTY);
    return;
  }
  FUZZ_CHECK(to.type == type);
  if (type == AMF_VARIANT_INT64 && from.type == AMF_VARIANT_DOUBLE) {
    const double whole = std::trunc(from.doubleValue);
    FUZZ_CHECK(whole >= -0x1p63 && whole < 0x1p63 && static_cast<double>(to.int64Value) == whole);
  }
  if (type == AMF_VARIANT_STRING && from.type == AMF_VARIANT_INT64)
    FUZZ_CHECK(std::to_string(from.int64Value) == to.stringValue);
  if (type == AMF_VARIANT_STRING) FUZZ_CHECK(to.stringValue != nullptr);
  if (type == AMF_VARIANT_WSTRING) FUZZ_CHECK(to.wstringValue != nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  CountedInterface object;
  {
    AMFVariantStruct source, target;
    AMFVariantInit(&source);
    AMFVariantInit(&target);
    while (input.remaining_bytes() > 0) {
      Fill(input, &source, &object);
      // Every type number the header knows, and a few it does not.
      const auto type = static_cast<AMF_VARIANT_TYPE>(input.ConsumeIntegralInRange<int>(-1, 15));
      AMFVariantStruct kept;
      AMFVariantInit(&kept);
      FUZZ_CHECK(AMFVariantCopy(&kept, &source) == AMF_OK);
      if (input.ConsumeBool()) {
        const AMF_RESULT r = AMFVariantChangeType(&target, &source, type);
        CheckConversion(kept, target, type, r);
      } else {
        const AMF_RESULT r = AMFVariantChangeType(&source, nullptr, type);
        CheckConversion(kept, source, type, r);
      }
      AMFVariantClear(&kept);
      AMFVariantCopy(&source, &target);
    }
    AMFVariantClear(&source);
    AMFVariantClear(&target);
  }
  FUZZ_CHECK(object.references == 1);
  return 0;
}
