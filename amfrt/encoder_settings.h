#pragma once
#include <cstdint>

#include "amf/api/variant.h"
#include "amfrt/codec_description.h"
#include "amfrt/property_map.h"

namespace corvantis::amfrt {

enum class RateControl { ConstantQp, Cbr, PeakConstrainedVbr, LatencyConstrainedVbr };
enum class Preset { Speed, Balanced, Quality };

// What an encoder component's properties ask for, in the runtime's terms.
struct EncoderSettings {
  amfrt::Codec Codec = amfrt::Codec::Avc;
  amf::AMFRate FrameRate{30, 1};
  amf::amf_int64 Profile = 0;  // the AMF value: AVC 66/77/100, HEVC 1
  bool HighTier = false;
  bool LowLatency = false;
  amfrt::RateControl RateControl = amfrt::RateControl::PeakConstrainedVbr;
  amf::amf_int64 TargetBitrate = 0;
  amf::amf_int64 PeakBitrate = 0;
  bool EnforceHrd = false;
  amf::amf_int64 IdrPeriod = 0;  // frames from one IDR to the next; 0: only the first frame
  amf::amf_int64 BFrames = 0;
  amfrt::Preset Preset = amfrt::Preset::Balanced;
};

// Checks a value set on an encoder component and converts it to the property's own type
// (INT64 1 for a BOOL property, "100" for an INT64 one, ...) into *normalized.
// AMF_NOT_FOUND for a name the encoder does not have, AMF_INVALID_DATA_TYPE when the value does
// not convert, AMF_OUT_OF_RANGE or AMF_NOT_SUPPORTED for values outside what it offers.
AMF_RESULT NormalizeEncoderProperty(Codec codec, const wchar_t* name,
                                    const amf::AMFVariantStruct& value,
                                    amf::AMFVariantStruct* normalized);

// The settings from normalized properties; absent ones take the encoder's defaults.
EncoderSettings ReadEncoderSettings(Codec codec, const PropertyMap& properties);

}  // namespace corvantis::amfrt
