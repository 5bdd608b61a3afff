#include "amfrt/encoder_settings.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwchar>
#include <optional>
#include <span>

#include "amf/api/encoder_properties.h"

namespace corvantis::amfrt {
namespace {

constexpr amf::amf_int64 kMaxInt32 = INT32_MAX;

// The rules of properties both encoders have, each by its name in the codec's spelling.
struct SharedRule {
  const wchar_t* SettingNames::*Name;
  amf::AMF_VARIANT_TYPE Type;
  amf::amf_int64 Max;
};

constexpr SharedRule kSharedRules[] = {
    {&SettingNames::FrameRate, amf::AMF_VARIANT_RATE, 0},
    {&SettingNames::LowLatency, amf::AMF_VARIANT_BOOL, 0},
    {&SettingNames::RateControl, amf::AMF_VARIANT_INT64, 3},
    {&SettingNames::TargetBitrate, amf::AMF_VARIANT_INT64, kMaxInt32},
    {&SettingNames::PeakBitrate, amf::AMF_VARIANT_INT64, kMaxInt32},
    {&SettingNames::EnforceHrd, amf::AMF_VARIANT_BOOL, 0},
};

std::optional<PropertyRule> FindRule(Codec codec, const wchar_t* name) {
  const CodecDescription& d = DescriptionOf(codec);
  for (const SharedRule& rule : kSharedRules)
    if (std::wcscmp(d.Settings.*rule.Name, name) == 0)
      return PropertyRule{name, rule.Type, rule.Max, {}, {}};
  for (const PropertyRule& rule : d.OwnProperties)
    if (std::wcscmp(rule.Name, name) == 0) return rule;
  return std::nullopt;
}

bool Contains(std::span<const amf::amf_int64> values, amf::amf_int64 value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// Frame rates also come as plain numbers: 60 is 60/1, 29.97 is 29970/1000.
AMF_RESULT NormalizeRate(const amf::AMFVariantStruct& value, amf::AMFVariantStruct* normalized) {
  amf::AMFRate rate{};
  if (value.type == amf::AMF_VARIANT_RATE) {
    rate = value.rateValue;
  } else {
    amf::AMFVariantStruct number;
    amf::AMFVariantInit(&number);
    const AMF_RESULT converted =
        amf::AMFVariantChangeType(&number, &value, amf::AMF_VARIANT_DOUBLE);
    const double fps = number.doubleValue;
    amf::AMFVariantClear(&number);
    if (converted != AMF_OK) return AMF_INVALID_DATA_TYPE;
    if (!std::isfinite(fps) || fps <= 0 || fps > 1e6) return AMF_OUT_OF_RANGE;
    rate = std::floor(fps) == fps
               ? amf::AMFRate{static_cast<amf::amf_uint32>(fps), 1}
               : amf::AMFRate{static_cast<amf::amf_uint32>(std::lround(fps * 1000)), 1000};
  }
  if (rate.num == 0 || rate.den == 0) return AMF_OUT_OF_RANGE;
  return amf::AMFVariantAssignRate(normalized, rate);
}

amf::amf_int64 Int64Or(const PropertyMap& properties, const wchar_t* name,
                       amf::amf_int64 fallback) {
  const amf::AMFVariantStruct* value = properties.Find(name);
  return value != nullptr && value->type == amf::AMF_VARIANT_INT64 ? value->int64Value : fallback;
}

bool BoolOr(const PropertyMap& properties, const wchar_t* name, bool fallback) {
  const amf::AMFVariantStruct* value = properties.Find(name);
  return value != nullptr && value->type == amf::AMF_VARIANT_BOOL ? value->boolValue : fallback;
}

amf::AMFRate RateOr(const PropertyMap& properties, const wchar_t* name, amf::AMFRate fallback) {
  const amf::AMFVariantStruct* value = properties.Find(name);
  return value != nullptr && value->type == amf::AMF_VARIANT_RATE ? value->rateValue : fallback;
}

}  // namespace

AMF_RESULT NormalizeEncoderProperty(Codec codec, const wchar_t* name,
                                    const amf::AMFVariantStruct& value,
                                    amf::AMFVariantStruct* normalized) {
  if (name == nullptr || normalized == nullptr) return AMF_INVALID_POINTER;
  const std::optional<PropertyRule> rule = FindRule(codec, name);
  if (!rule) return AMF_NOT_FOUND;
  if (rule->Type == amf::AMF_VARIANT_RATE) return NormalizeRate(value, normalized);
  if (value.type == amf::AMF_VARIANT_EMPTY || value.type == amf::AMF_VARIANT_INTERFACE)
    return AMF_INVALID_DATA_TYPE;
  if (amf::AMFVariantChangeType(normalized, &value, rule->Type) != AMF_OK)
    return AMF_INVALID_DATA_TYPE;
  if (rule->Type != amf::AMF_VARIANT_INT64) return AMF_OK;

  const amf::amf_int64 number = normalized->int64Value;
  const bool inRange =
      rule->Allowed.empty() ? number >= 0 && number <= rule->Max : Contains(rule->Allowed, number);
  if (!inRange) {
    amf::AMFVariantClear(normalized);
    return AMF_OUT_OF_RANGE;
  }
  if (!rule->Supported.empty() && !Contains(rule->Supported, number)) {
    amf::AMFVariantClear(normalized);
    return AMF_NOT_SUPPORTED;
  }
  return AMF_OK;
}

EncoderSettings ReadEncoderSettings(Codec codec, const PropertyMap& p) {
  const CodecDescription& d = DescriptionOf(codec);
  const SettingNames& n = d.Settings;
  EncoderSettings s;
  s.Codec = codec;
  s.FrameRate = RateOr(p, n.FrameRate, {30, 1});
  s.Profile = Int64Or(p, n.Profile, d.DefaultProfile);
  s.LowLatency = BoolOr(p, n.LowLatency, false);
  const RateControlValues& rc = d.RateControls;
  const amf::amf_int64 method = Int64Or(p, n.RateControl, rc.PeakConstrainedVbr);
  s.RateControl = method == rc.ConstantQp              ? RateControl::ConstantQp
                  : method == rc.Cbr                   ? RateControl::Cbr
                  : method == rc.LatencyConstrainedVbr ? RateControl::LatencyConstrainedVbr
                                                       : RateControl::PeakConstrainedVbr;
  s.TargetBitrate = Int64Or(p, n.TargetBitrate, 20000000);
  s.PeakBitrate = Int64Or(p, n.PeakBitrate, 30000000);
  s.EnforceHrd = BoolOr(p, n.EnforceHrd, false);
  const amf::amf_int64 preset = Int64Or(p, n.QualityPreset, d.Presets.Balanced);
  s.Preset = preset == d.Presets.Speed     ? Preset::Speed
             : preset == d.Presets.Quality ? Preset::Quality
                                           : Preset::Balanced;
  if (codec == Codec::Avc) {
    s.IdrPeriod = Int64Or(p, AMF_VIDEO_ENCODER_IDR_PERIOD, 30);
    s.BFrames = Int64Or(p, AMF_VIDEO_ENCODER_B_PIC_PATTERN, 0);
    return s;
  }
  s.HighTier = Int64Or(p, AMF_VIDEO_ENCODER_HEVC_TIER, AMF_VIDEO_ENCODER_HEVC_TIER_MAIN) ==
               AMF_VIDEO_ENCODER_HEVC_TIER_HIGH;
  const amf::amf_int64 gopSize = Int64Or(p, AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 60);
  const amf::amf_int64 gopsPerIdr = Int64Or(p, AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 1);
  s.IdrPeriod = std::min<amf::amf_int64>(gopSize * gopsPerIdr, kMaxInt32);
  return s;
}

}  // namespace corvantis::amfrt
