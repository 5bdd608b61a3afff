#include "amf/encoder_config.h"

#include <span>

#include "amf/amf_result.h"
#include "amf/api/encoder_properties.h"
#include "platform/console.h"
#include "platform/format_text.h"

namespace corvantis {
namespace {

// Where a property's value comes from; the kind also picks the AMF variant type.
enum class Source { FrameRate, Constant, Flag, TargetBitrate, PeakBitrate };

struct Setting {
  const wchar_t* Name;
  Source From;
  amf::amf_int64 Value = 0;
};

struct EncoderTable {
  const wchar_t* Component;
  std::span<const Setting> Settings;  // set in this order
  // Set to false before the one retry of an Init that found no encoder; null means no retry.
  const wchar_t* RetryWithoutFlag;
};

void Apply(amf::AMFComponent* c, const Setting& s, const ClipScenario& scenario,
           std::uint32_t targetBitrate) {
  switch (s.From) {
    case Source::FrameRate:
      SetAmfPropertyRate(
          c, s.Name,
          amf::AMFConstructRate(scenario.FrameRateNumerator, scenario.FrameRateDenominator));
      return;
    case Source::Constant: SetAmfProperty(c, s.Name, s.Value); return;
    case Source::Flag: SetAmfPropertyBool(c, s.Name, s.Value != 0); return;
    case Source::TargetBitrate: SetAmfProperty(c, s.Name, targetBitrate); return;
    case Source::PeakBitrate: SetAmfProperty(c, s.Name, PeakBitrate(targetBitrate)); return;
  }
}

void Configure(const EncoderTable& table, amf::AMFFactory* factory, amf::AMFContext* context,
               amf::AMFComponentPtr& component, const ClipScenario& scenario,
               std::uint32_t targetBitrate) {
  component.Release();
  CheckAmfResult(factory->CreateComponent(context, table.Component, &component));
  amf::AMFComponent* c = component.GetPtr();
  for (const Setting& s : table.Settings) Apply(c, s, scenario, targetBitrate);

  const auto width = static_cast<amf::amf_int32>(scenario.Width);
  const auto height = static_cast<amf::amf_int32>(scenario.Height);
  AMF_RESULT result = c->Init(amf::AMF_SURFACE_BGRA, width, height);
  if (table.RetryWithoutFlag != nullptr && result == AMF_ENCODER_NOT_PRESENT) {
    StdOut().WriteLine(FormatWide(L"AMF component intiialization failure, InitResult %d",
                                  static_cast<int>(result)));
    SetAmfPropertyBool(c, table.RetryWithoutFlag, false);
    result = c->Init(amf::AMF_SURFACE_BGRA, width, height);
  }
  CheckAmfResult(result);
}

const Setting kAvcSettings[] = {
    {AMF_VIDEO_ENCODER_FRAMERATE, Source::FrameRate},
    {AMF_VIDEO_ENCODER_PROFILE, Source::Constant, AMF_VIDEO_ENCODER_PROFILE_HIGH},
    {AMF_VIDEO_ENCODER_LOWLATENCY_MODE, Source::Flag, 1},
    {AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD, Source::Constant,
     AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR},
    {AMF_VIDEO_ENCODER_TARGET_BITRATE, Source::TargetBitrate},
    {AMF_VIDEO_ENCODER_PEAK_BITRATE, Source::PeakBitrate},
    {AMF_VIDEO_ENCODER_ENFORCE_HRD, Source::Constant, 0},
    {AMF_VIDEO_ENCODER_IDR_PERIOD, Source::Constant, 0},
    {AMF_VIDEO_ENCODER_B_PIC_PATTERN, Source::Constant, 0},
    {AMF_VIDEO_ENCODER_QUALITY_PRESET, Source::Constant, AMF_VIDEO_ENCODER_QUALITY_PRESET_SPEED}};
const EncoderTable kAvc{AMFVideoEncoderVCE_AVC, kAvcSettings, AMF_VIDEO_ENCODER_LOWLATENCY_MODE};

// HEVC's low latency is an INT64, and its Init is not retried.
const Setting kHevcSettings[] = {
    {AMF_VIDEO_ENCODER_HEVC_FRAMERATE, Source::FrameRate},
    {AMF_VIDEO_ENCODER_HEVC_PROFILE, Source::Constant, AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN},
    {AMF_VIDEO_ENCODER_HEVC_TIER, Source::Constant, AMF_VIDEO_ENCODER_HEVC_TIER_MAIN},
    {AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, Source::Constant, 1},
    {AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD, Source::Constant,
     AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR},
    {AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, Source::TargetBitrate},
    {AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, Source::PeakBitrate},
    {AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, Source::Constant, 0},
    {AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, Source::Constant, 1},
    {AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, Source::Constant, 0},
    {AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET, Source::Constant,
     AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_SPEED}};
const EncoderTable kHevc{AMFVideoEncoder_HEVC, kHevcSettings, nullptr};

}  // namespace

void ConfigureAvcEncoder(amf::AMFFactory* factory, amf::AMFContext* context,
                         amf::AMFComponentPtr& component, const ClipScenario& scenario,
                         std::uint32_t targetBitrate) {
  Configure(kAvc, factory, context, component, scenario, targetBitrate);
}

void ConfigureHevcEncoder(amf::AMFFactory* factory, amf::AMFContext* context,
                          amf::AMFComponentPtr& component, const ClipScenario& scenario,
                          std::uint32_t targetBitrate) {
  Configure(kHevc, factory, context, component, scenario, targetBitrate);
}

}  // namespace corvantis
