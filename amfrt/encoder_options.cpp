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

int ClampToInt(std::int64_t value) { return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX)); }

}  // namespace

const char* ParamsOptionName(Codec codec) { return codec == Codec::Avc ? "x264-params" : "x265-params"; }

EncoderOptions BuildEncoderOptions(const EncoderSettings& s) {
  const bool avc = s.codec == Codec::Avc;
  EncoderOptions o;
  o.codecName = avc ? "libx264" : "libx265";
  o.preset = PresetName(s.preset);
  o.tune = s.lowLatency ? "zerolatency" : "";
  o.profile = avc ? AvcProfileName(s.profile) : "main";
  o.maxBFrames = avc ? static_cast<int>(s.bFrames) : 0;
  o.gopSize = s.idrPeriod > 0 ? ClampToInt(s.idrPeriod) : -1;

  std::string& p = o.params;
  // The runtime frames every output itself: no delimiters or repeated headers from the library.
  Add(p, "annexb=1:aud=0:repeat-headers=0");
  if (!avc) Add(p, "info=0:log-level=error");
  // Periodic I-frames come only from the IDR period: no scene cuts, no intra refresh.
  if (avc)
    Add(p, o.gopSize > 0 ? "keyint=" + std::to_string(o.gopSize) : std::string("keyint=infinite"));
  else
    Add(p, o.gopSize > 0 ? "keyint=" + std::to_string(o.gopSize) : std::string("keyint=-1"));
  Add(p, "scenecut=0:open-gop=0");
  Add(p, "bframes=" + std::to_string(o.maxBFrames));
  if (o.maxBFrames > 0) Add(p, "b-pyramid=none");
  if (s.lowLatency) {
    // What the zerolatency tune sets, stated so that libavcodec's own defaults cannot undo it.
    if (avc)
      Add(p, "rc-lookahead=0:sync-lookahead=0:sliced-threads=1");
    else
      Add(p, "rc-lookahead=0:frame-threads=1");
  }
  // x264 signals the lowest profile its tools need; these tools make it the one asked for.
  if (avc && s.profile == AMF_VIDEO_ENCODER_PROFILE_HIGH) Add(p, "8x8dct=1");
  if (avc && s.profile == AMF_VIDEO_ENCODER_PROFILE_MAIN) Add(p, "cabac=1");
  if (!avc) Add(p, s.highTier ? "high-tier=1" : "high-tier=0");

  switch (s.rateControl) {
    case RateControl::ConstantQp:
      Add(p, "qp=" + std::to_string(kConstantQp));
      break;
    case RateControl::Cbr:
      o.bitRate = s.targetBitrate;
      o.maxRate = s.targetBitrate;
      o.bufferSize = ClampToInt(s.targetBitrate);
      break;
    case RateControl::PeakConstrainedVbr:
    case RateControl::LatencyConstrainedVbr:
      // A VBV of one second at the peak rate: the peak bounds every one-second window.
      o.bitRate = s.targetBitrate;
      o.maxRate = s.peakBitrate > 0 ? std::max(s.peakBitrate, s.targetBitrate) : 0;
      o.bufferSize = ClampToInt(o.maxRate);
      break;
  }
  const bool vbv = o.maxRate > 0 && o.bufferSize > 0;
  if (s.enforceHrd && vbv) {
    if (avc)
      Add(p, s.rateControl == RateControl::Cbr ? "nal-hrd=cbr" : "nal-hrd=vbr");
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
