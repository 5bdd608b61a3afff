#include "amf/encoder_config.h"

#include "amf/amf_result.h"
#include "amf/api/encoder_properties.h"
#include "platform/console.h"
#include "platform/format_text.h"

namespace corvantis {

void ConfigureAvcEncoder(amf::AMFFactory* factory, amf::AMFContext* context,
                         amf::AMFComponentPtr& component, const ClipScenario& scenario,
                         std::uint32_t targetBitrate) {
  component.Release();
  CheckAmfResult(factory->CreateComponent(context, AMFVideoEncoderVCE_AVC, &component));
  amf::AMFComponent* c = component.GetPtr();
  SetAmfPropertyRate(
      c, AMF_VIDEO_ENCODER_FRAMERATE,
      amf::AMFConstructRate(scenario.FrameRateNumerator, scenario.FrameRateDenominator));
  SetAmfProperty(c, AMF_VIDEO_ENCODER_PROFILE, AMF_VIDEO_ENCODER_PROFILE_HIGH);
  SetAmfPropertyBool(c, AMF_VIDEO_ENCODER_LOWLATENCY_MODE, true);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD,
                 AMF_VIDEO_ENCODER_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_TARGET_BITRATE, targetBitrate);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_PEAK_BITRATE, PeakBitrate(targetBitrate));
  SetAmfProperty(c, AMF_VIDEO_ENCODER_ENFORCE_HRD, 0);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_IDR_PERIOD, 0);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_B_PIC_PATTERN, 0);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_QUALITY_PRESET, AMF_VIDEO_ENCODER_QUALITY_PRESET_SPEED);

  const auto width = static_cast<amf::amf_int32>(scenario.Width);
  const auto height = static_cast<amf::amf_int32>(scenario.Height);
  AMF_RESULT result = c->Init(amf::AMF_SURFACE_BGRA, width, height);
  if (result == AMF_ENCODER_NOT_PRESENT) {
    StdOut().WriteLine(FormatWide(L"AMF component intiialization failure, InitResult %d",
                                  static_cast<int>(result)));
    SetAmfPropertyBool(c, AMF_VIDEO_ENCODER_LOWLATENCY_MODE, false);
    result = c->Init(amf::AMF_SURFACE_BGRA, width, height);
  }
  CheckAmfResult(result);
}

void ConfigureHevcEncoder(amf::AMFFactory* factory, amf::AMFContext* context,
                          amf::AMFComponentPtr& component, const ClipScenario& scenario,
                          std::uint32_t targetBitrate) {
  component.Release();
  CheckAmfResult(factory->CreateComponent(context, AMFVideoEncoder_HEVC, &component));
  amf::AMFComponent* c = component.GetPtr();
  SetAmfPropertyRate(
      c, AMF_VIDEO_ENCODER_HEVC_FRAMERATE,
      amf::AMFConstructRate(scenario.FrameRateNumerator, scenario.FrameRateDenominator));
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_PROFILE, AMF_VIDEO_ENCODER_HEVC_PROFILE_MAIN);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_TIER, AMF_VIDEO_ENCODER_HEVC_TIER_MAIN);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_LOWLATENCY_MODE, 1);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD,
                 AMF_VIDEO_ENCODER_HEVC_RATE_CONTROL_METHOD_LATENCY_CONSTRAINED_VBR);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_TARGET_BITRATE, targetBitrate);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_PEAK_BITRATE, PeakBitrate(targetBitrate));
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_ENFORCE_HRD, 0);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_NUM_GOPS_PER_IDR, 1);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_GOP_SIZE, 0);
  SetAmfProperty(c, AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET,
                 AMF_VIDEO_ENCODER_HEVC_QUALITY_PRESET_SPEED);
  CheckAmfResult(c->Init(amf::AMF_SURFACE_BGRA, static_cast<amf::amf_int32>(scenario.Width),
                         static_cast<amf::amf_int32>(scenario.Height)));
}

}  // namespace corvantis
