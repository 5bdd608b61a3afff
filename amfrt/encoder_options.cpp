#include "amfrt/encoder_options.h"

#include <algorithm>
#include <climits>

#include "amf/api/encoder_properties.h"

namespace corvantis::amfrt {
namespace {

// AMF's constant-QP mode without its QP properties: the hardware encoder's default QP.
constexpr int kConstantQp = 22;

const char* PresetName(Preset preset) {
  switch (preset) {
    case Preset::Speed: return "ultrafast";
    case Preset::Quality: return "medium";
    default: return "veryfast";
  }
}

const char* AvcProfileName(amf::amf_int64 profile) {
  switch (profile) {
    case AMF_VIDEO_ENCODER_PROFILE_BASELINE: return "baseline";
    case AMF_VIDEO_ENCODER_PROFILE_MAIN: return "main";
    default: return "high";
  }
}

void Add(std::string& params, const std::string& item) {
  if (!params.empty()) params += ':';
  params += item;
}

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}

}  // namespace

const char* ParamsOptionName(Codec codec) { return DescriptionOf(codec).ParamsOption; }

EncoderOptions BuildEncoderOptions(const EncoderSettings& s) {
  const bool avc = s.Codec == Codec::Avc;
  EncoderOptions o;
  o.CodecName = DescriptionOf(s.Codec).SoftwareEncoder;
  o.Preset = PresetName(s.Preset);
  o.Tune = s.LowLatency ? "zerolatency" : "";
  o.Profile = avc ? AvcProfileName(s.Profile) : "main";
  o.MaxBFrames = avc ? static_cast<int>(s.BFrames) : 0;
  o.GopSize = s.IdrPeriod > 0 ? ClampToInt(s.IdrPeriod) : -1;

  std::string& p = o.Params;
  // The runtime frames every output itself: no delimiters or repeated headers from the library.
  Add(p, "annexb=1:aud=0:repeat-headers=0");
  if (!avc) Add(p, "info=0:log-level=error");
  // Periodic I-frames come only from the IDR period: no scene cuts, no intra refresh.
  if (avc)
    Add(p, o.GopSize > 0 ? "keyint=" + std::to_string(o.GopSize) : std::string("keyint=infinite"));
  else
    Add(p, o.GopSize > 0 ? "keyint=" + std::to_string(o.GopSize) : std::string("keyint=-1"));
  Add(p, "scenecut=0:open-gop=0");
  Add(p, "bframes=" + std::to_string(o.MaxBFrames));
  if (o.MaxBFrames > 0) Add(p, "b-pyramid=none");
  if (s.LowLatency) {
    // What the zerolatency tune sets, stated so that libavcodec's own defaults cannot undo it.
    if (avc)
      Add(p, "rc-lookahead=0:sync-lookahead=0:sliced-threads=1");
    else
      Add(p, "rc-lookahead=0:frame-threads=1");
  }
  // x264 signals the lowest profile its tools need; these tools make it the one asked for.
  if (avc && s.Profile == AMF_VIDEO_ENCODER_PROFILE_HIGH) Add(p, "8x8dct=1");
  if (avc && s.Profile == AMF_VIDEO_ENCODER_PROFILE_MAIN) Add(p, "cabac=1");
  if (!avc) Add(p, s.HighTier ? "high-tier=1" : "high-tier=0");

  switch (s.RateControl) {
    case RateControl::ConstantQp: Add(p, "qp=" + std::to_string(kConstantQp)); break;
    case RateControl::Cbr:
      o.BitRate = s.TargetBitrate;
      o.MaxRate = s.TargetBitrate;
      o.BufferSize = ClampToInt(s.TargetBitrate);
      break;
    case RateControl::PeakConstrainedVbr:
    case RateControl::LatencyConstrainedVbr:
      // A VBV of one second at the peak rate: the peak bounds every one-second window.
      o.BitRate = s.TargetBitrate;
      o.MaxRate = s.PeakBitrate > 0 ? std::max(s.PeakBitrate, s.TargetBitrate) : 0;
      o.BufferSize = ClampToInt(o.MaxRate);
      break;
  }
  const bool vbv = o.MaxRate > 0 && o.BufferSize > 0;
  if (s.EnforceHrd && vbv) {
    if (avc)
      Add(p, s.RateControl == RateControl::Cbr ? "nal-hrd=cbr" : "nal-hrd=vbr");
    else
      Add(p, "hrd=1");
  } else if (avc) {
    Add(p, "nal-hrd=none");
  } else {
    Add(p, "hrd=0");
  }
  return o;
}

}  // namespace corvantis::amfrt
