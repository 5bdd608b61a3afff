#include "amfrt/vaapi_options.h"

#include <va/va.h>
#include <va/va_str.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "platform/utf.h"

namespace corvantis::amfrt {
namespace {

// AMF's constant-QP mode without its QP properties: the hardware encoder's default QP.
constexpr int kConstantQp = 22;

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX));
}

// A driver that does not report its rate-control modes is taken to have them all.
bool Offers(const VaapiEntrypoint& entry, std::uint32_t mode) {
  return entry.RateControlModes == 0 || (entry.RateControlModes & mode) != 0;
}

bool Unsupported(VaapiOptions& o, std::string why) {
  o.Result = AMF_NOT_SUPPORTED;
  o.Failure = std::move(why);
  return false;
}

bool ChooseRateControl(const EncoderSettings& s, const VaapiEntrypoint& entry, VaapiOptions& o) {
  const bool constantQp = s.RateControl == RateControl::ConstantQp || s.TargetBitrate <= 0;
  if (constantQp) {
    if (!Offers(entry, VA_RC_CQP))
      return Unsupported(o, "the driver has no constant-QP rate control");
    o.RateControl = VaapiRateControl::Cqp;
    o.Qp = kConstantQp;
    return true;
  }
  const std::int64_t target = s.TargetBitrate;
  const std::int64_t peak = s.PeakBitrate > 0 ? std::max(s.PeakBitrate, target) : target;
  if (s.RateControl == RateControl::Cbr) {
    if (Offers(entry, VA_RC_CBR)) {
      o.RateControl = VaapiRateControl::Cbr;
      o.BitRate = o.MaxRate = target;
      o.BufferSize = ClampToInt(target);
      return true;
    }
    if (!Offers(entry, VA_RC_VBR))
      return Unsupported(o, "the driver has neither CBR nor VBR rate control");
    o.NotHonoured.push_back("CBR: the driver has none, VBR with the peak at the target instead");
    o.RateControl = VaapiRateControl::Vbr;
    o.BitRate = o.MaxRate = target;
    o.BufferSize = ClampToInt(target);
    return true;
  }
  if (Offers(entry, VA_RC_VBR)) {
    // A buffer of one second at the peak rate: the peak bounds every one-second window.
    o.RateControl = VaapiRateControl::Vbr;
    o.BitRate = target;
    o.MaxRate = peak;
    o.BufferSize = ClampToInt(peak);
    return true;
  }
  if (!Offers(entry, VA_RC_CBR))
    return Unsupported(o, "the driver has neither VBR nor CBR rate control");
  o.NotHonoured.push_back(
      "VBR: the driver has none, CBR at the target rate instead (PeakBitrate unused)");
  o.RateControl = VaapiRateControl::Cbr;
  o.BitRate = o.MaxRate = target;
  o.BufferSize = ClampToInt(target);
  return true;
}

struct HevcLevel {
  int Idc;
  std::int64_t MaxLumaPs, MaxLumaSr, MaxMainBr, MaxHighBr;  // samples, samples per second, kbit/s
};

// Table A.8 and A.9 of H.265 (Main profile, VCL bit rates).
constexpr HevcLevel kHevcLevels[] = {
    {30, 36864, 552960, 128, 0},
    {60, 122880, 3686400, 1500, 0},
    {63, 245760, 7372800, 3000, 0},
    {90, 552960, 16588800, 6000, 0},
    {93, 983040, 33177600, 10000, 0},
    {120, 2228224, 66846720, 12000, 30000},
    {123, 2228224, 133693440, 20000, 50000},
    {150, 8912896, 267386880, 25000, 100000},
    {153, 8912896, 534773760, 40000, 160000},
    {156, 8912896, 1069547520, 60000, 240000},
    {180, 35651584, 1069547520, 60000, 240000},
    {183, 35651584, 2139095040, 120000, 480000},
    {186, 35651584, 4278190080, 240000, 800000},
};

int AlignUp(int value, int alignment) {
  return alignment > 1 ? (value + alignment - 1) / alignment * alignment : value;
}

// The level for the settings' preset, as the driver reads it; 0 with a note where it has none.
int QualityLevel(const EncoderSettings& s, VaapiDriver driver, int levels, VaapiOptions& o) {
  if (driver == VaapiDriver::MesaRadeonsi && levels > 0) {
    // Without pre-encoding or VBAQ, as AMF's presets leave them off.
    constexpr int kValid = 1;
    switch (s.Preset) {
      case Preset::Speed: return 0;
      case Preset::Quality: return kValid | 2 << 1;
      default: return kValid | 1 << 1;
    }
  }
  if (levels > 0) {
    // Level 1 is the best quality, the highest level the fastest.
    return s.Preset == Preset::Speed ? levels : s.Preset == Preset::Quality ? 1 : (levels + 1) / 2;
  }
  if (s.Preset != Preset::Balanced)
    o.NotHonoured.push_back(std::string("QualityPreset ") +
                            (s.Preset == Preset::Speed ? "speed" : "quality") +
                            ": the driver has no quality levels, its default is used");
  return 0;
}

}  // namespace

VaapiDriver VaapiDriverOf(const std::string& vendor) {
  return vendor.starts_with("Mesa Gallium driver") && vendor.find(" for AMD ") != std::string::npos
             ? VaapiDriver::MesaRadeonsi
             : VaapiDriver::Other;
}

std::pair<int, int> HevcCodedSize(VaapiDriver driver, const VaapiEntrypoint& entry, int width,
                                  int height) {
  const int block = std::max(entry.MinCodingBlock, 8);
  std::pair<int, int> coded{AlignUp(width, block), AlignUp(height, block)};
  if (driver == VaapiDriver::MesaRadeonsi)
    coded = {std::max(coded.first, AlignUp(width, 64)),
             std::max(coded.second, AlignUp(height, 16))};
  return coded;
}

int HevcLevelIdc(int width, int height, amf::AMFRate frameRate, std::int64_t peakBitrate,
                 bool highTier) {
  if (width <= 0 || height <= 0 || frameRate.num == 0 || frameRate.den == 0) return 0;
  const std::int64_t pictureSize = static_cast<std::int64_t>(width) * height;
  for (const HevcLevel& level : kHevcLevels) {
    // Neither side may pass sqrt(8 x MaxLumaPs).
    const std::int64_t side = static_cast<std::int64_t>(width > height ? width : height);
    const std::int64_t maxBr =
        (highTier && level.MaxHighBr > 0 ? level.MaxHighBr : level.MaxMainBr) * 1000;
    if (pictureSize <= level.MaxLumaPs && side * side <= 8 * level.MaxLumaPs &&
        pictureSize * frameRate.num <= level.MaxLumaSr * static_cast<std::int64_t>(frameRate.den) &&
        peakBitrate <= maxBr)
      return level.Idc;
  }
  return 0;
}

int VaapiProfileOf(const EncoderSettings& settings) {
  return DescriptionOf(settings.Codec).ProfileOf(settings.Profile).VaProfile;
}

const char* VaapiProfileName(int vaProfile) {
  return vaProfileStr(static_cast<VAProfile>(vaProfile));
}

const char* RateControlName(VaapiRateControl mode) {
  switch (mode) {
    case VaapiRateControl::Cbr: return "CBR";
    case VaapiRateControl::Cqp: return "CQP";
    default: return "VBR";
  }
}

VaapiOptions BuildVaapiOptions(const EncoderSettings& s, const VaapiCapabilities& caps, int width,
                               int height, VaapiDriver driver, const std::string& vendor) {
  const CodecDescription& d = DescriptionOf(s.Codec);
  VaapiOptions o;
  o.CodecName = d.VaapiEncoder;
  o.Profile = d.ProfileOf(s.Profile).Vaapi;
  VaEncodeAsk ask;
  ask.Profile = static_cast<VAProfile>(VaapiProfileOf(s));
  ask.Width = width;
  ask.Height = height;
  ask.RateControl = s.RateControl == RateControl::ConstantQp || s.TargetBitrate <= 0 ? VA_RC_CQP
                    : s.RateControl == RateControl::Cbr                              ? VA_RC_CBR
                                                                                     : VA_RC_VBR;
  // Low latency prefers the low-power entry point, the rest the full one.
  ask.PreferLowPower = s.LowLatency;
  ask.Vendor = vendor;
  const VaEncodeChoice choice = ChooseVaEntrypoint(caps, ask);
  if (choice.Entry == nullptr) {
    Unsupported(o, choice.Refusal);
    return o;
  }
  const VaapiEntrypoint* chosen = choice.Entry;
  o.LowPower = chosen == &caps.LowPower;
  const VaapiEntrypoint& entry = *chosen;
  if (!ChooseRateControl(s, entry, o)) return o;

  o.GopSize = s.IdrPeriod > 0
                  ? static_cast<int>(std::min<std::int64_t>(s.IdrPeriod, kLongestLegalGop))
                  : kLongestLegalGop;
  if (s.IdrPeriod > kLongestLegalGop)
    o.NotHonoured.push_back("IDRPeriod " + std::to_string(s.IdrPeriod) + ": " +
                            std::to_string(kLongestLegalGop) +
                            " at most, for a POC length within the standard");
  o.MaxBFrames = ClampToInt(s.BFrames);
  if (o.MaxBFrames > 0 && !entry.BackwardReferences) {
    o.NotHonoured.push_back("BPicturesPattern " + std::to_string(o.MaxBFrames) +
                            ": the driver has no backward references here, P-frames only");
    o.MaxBFrames = 0;
  }
  // One frame in flight: each output is ready as soon as its frame is encoded.
  o.AsyncDepth = s.LowLatency ? 1 : 2;

  o.QualityLevel = QualityLevel(s, driver, entry.QualityLevels, o);
  o.Tier = !d.HasTier ? -1 : s.HighTier ? 1 : 0;
  o.Sei = s.EnforceHrd ? d.VaapiSeiHrd : d.VaapiSei;
  if (s.EnforceHrd && o.Sei == nullptr)
    o.NotHonoured.push_back(WideToUtf8Lossy(d.Settings.EnforceHrd) + " 1: " + o.CodecName +
                            " writes no HRD parameters");
  o.GpuConversion = caps.VideoProcessingFromBgra;
  // hevc_vaapi's own guess leaves the frame rate out: 1080p60 would claim level 4, whose decoders
  // need only take half that rate. The level is the coded size's: 640x360 is coded 640x368.
  if (s.Codec == Codec::Hevc) {
    const auto [codedWidth, codedHeight] = HevcCodedSize(driver, entry, width, height);
    o.Level = HevcLevelIdc(codedWidth, codedHeight, s.FrameRate, std::max(o.MaxRate, o.BitRate),
                           s.HighTier);
  }
  return o;
}

}  // namespace corvantis::amfrt
