#include "amfrt/encoder_options.h"

#include <algorithm>
#include <climits>

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
  const CodecDescription& d = DescriptionOf(s.Codec);
  const LibraryParams& library = d.Params;
  const ProfileNames& profile = d.ProfileOf(s.Profile);
  EncoderOptions o;
  o.CodecName = d.SoftwareEncoder;
  o.Preset = PresetName(s.Preset);
  o.Tune = s.LowLatency ? "zerolatency" : "";
  o.Profile = profile.Software;
  o.MaxBFrames = ClampToInt(s.BFrames);
  o.GopSize = s.IdrPeriod > 0 ? ClampToInt(s.IdrPeriod) : -1;

  std::string& p = o.Params;
  // The runtime frames every output itself: no delimiters or repeated headers from the library.
  Add(p, "annexb=1:aud=0:repeat-headers=0");
  if (*library.Quiet != '\0') Add(p, library.Quiet);
  // Periodic I-frames come only from the IDR period: no scene cuts, no intra refresh.
  Add(p, o.GopSize > 0 ? "keyint=" + std::to_string(o.GopSize) : std::string(library.EndlessGop));
  Add(p, "scenecut=0:open-gop=0");
  Add(p, "bframes=" + std::to_string(o.MaxBFrames));
  if (o.MaxBFrames > 0) Add(p, "b-pyramid=none");
  // What the zerolatency tune sets, stated so that libavcodec's own defaults cannot undo it.
  if (s.LowLatency) Add(p, library.NoLookahead);
  if (*profile.SoftwareTools != '\0') Add(p, profile.SoftwareTools);
  if (d.HasTier) Add(p, s.HighTier ? "high-tier=1" : "high-tier=0");

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
  if (!s.EnforceHrd || !vbv)
    Add(p, library.HrdOff);
  else
    Add(p, s.RateControl == RateControl::Cbr ? library.HrdCbr : library.HrdVbr);
  return o;
}

}  // namespace corvantis::amfrt
