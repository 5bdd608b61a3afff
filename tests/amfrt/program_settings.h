#pragma once
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "amf/api/encoder_properties.h"
#include "amf/api/variant.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/property_map.h"
#include "tests/amfrt/program_properties.h"

namespace corvantis::amfrt {

// The settings an encoder reads from `properties` once set, each normalized as the runtime does on
// SetProperty.
inline EncoderSettings FromProperties(Codec codec, EncoderProperties properties) {
  PropertyMap map;
  for (auto& [name, value] : properties) {
    amf::AMFVariantStruct normalized;
    amf::AMFVariantInit(&normalized);
    EXPECT_EQ(NormalizeEncoderProperty(codec, name, value, &normalized), AMF_OK) << name;
    map.Set(name, normalized);
    amf::AMFVariantClear(&normalized);
    amf::AMFVariantClear(&value);
  }
  return ReadEncoderSettings(codec, map);
}

inline EncoderSettings FromProperties(
    Codec codec, std::initializer_list<std::pair<const wchar_t*, amf::amf_int64>> values) {
  EncoderProperties properties;
  for (const auto& [name, number] : values) properties.emplace_back(name, Int64Value(number));
  return FromProperties(codec, std::move(properties));
}

// The AVC or HEVC encoder as the benchmark configures it.
inline EncoderSettings ProgramsAvc() {
  return FromProperties(Codec::Avc, ProgramProperties(false));
}
inline EncoderSettings ProgramsHevc() {
  return FromProperties(Codec::Hevc, ProgramProperties(true));
}

}  // namespace corvantis::amfrt
