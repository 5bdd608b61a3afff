#include "amfrt/vaapi_options.h"

#include <va/va.h>
#include <va/va_str.h>

#include <algorithm>
#include <climits>
#include <utility>

#include "amf/api/encoder_properties.h"

namespace corvantis::amfrt {
namespace {

// AMF's constant-QP mode without its QP properties: the hardware encoder's default QP.
constexpr int kConstantQp = 22;

int ClampToInt(std::int64_t value) { return static_cast<int>(std::clamp<std::int64_t>(value, 0, INT_MAX)); }

const char* AvcProfileOption(amf::amf_int64 profile) {
  switch (profile) {
    case AMF_VIDEO_ENCODER_PROFILE_BASELINE: return "constrained_baseline";
    case AMF_VIDEO_ENCODER_PROFILE_MAIN: return "main";
    default: return "high";
  }
}

// A driver that does not report its rate-control modes is taken to have them all.
bool Offers(const VaapiEntrypoint& entry, std::uint32_t mode) {
  return entry.rateControlModes == 0 || (entry.rateControlModes & mode) != 0;
}

bool Fits(const VaapiEntrypoint& entry, int width, int height) {
  return (entry.maxWidth <= 0 || width <= entry.maxWidth) && (entry.maxHeight <= 0 || height <= entry.maxHeight);
}

// The mode the settings ask for is there as it is, without a stand-in.
bool OffersAskedMode(const EncoderSettings& s, const VaapiEntrypoint& entry) {
  if (s.rateControl == RateControl::ConstantQp || s.targetBitrate <= 0) return Offers(entry, VA_RC_CQP);
  return Offers(entry, s.rateControl == RateControl::Cbr ? VA_RC_CBR : VA_RC_VBR);
}

bool Unsupported(VaapiOptions& o, std::string why) {
  o.result = AMF_NOT_SUPPORTED;
  o.failure = std::move(why);
  return false;
}

bool ChooseRateControl(const EncoderSettings& s, const VaapiEntrypoint& entry, VaapiOptions& o) {
  const bool constantQp = s.rateControl == RateControl::ConstantQp || s.targetBitrate <= 0;
  if (constantQp) {
    if (!Offers(entry, VA_RC_CQP)) return Unsupported(o, "the driver has no constant-QP rate control");
    o.rateControl = VaapiRateControl::Cqp;
    o.qp = kConstantQp;
    return true;
  }
  const std::int64_t target = s.targetBitrate;
  const std::int64_t peak = s.peakBitrate > 0 ? std::max(s.peakBitrate, target) : target;
  if (s.rateControl == RateControl::Cbr) {
    if (Offers(entry, VA_RC_CBR)) {
      o.rateControl = VaapiRateControl::Cbr;
      o.bitRate = o.maxRate = target;
      o.bufferSize = ClampToInt(target);
      return true;
    }
    if (!Offers(entry, VA_RC_VBR)) return Unsupported(o, "the driver has neither CBR nor VBR rate control");
    o.notHonoured.push_back("CBR: the driver has none, VBR with the peak at the target instead");
    o.rateControl = VaapiRateControl::Vbr;
    o.bitRate = o.maxRate = target;
    o.bufferSize = ClampToInt(target);
    return true;
  }
  if (Offers(entry, VA_RC_VBR)) {
    // A buffer of one second at the peak rate: the peak bounds every one-second window.
    o.rateControl = VaapiRateControl::Vbr;
    o.bitRate = target;
    o.maxRate = peak;
    o.bufferSize = ClampToInt(peak);
    return true;
  }
  if (!Offers(entry, VA_RC_CBR)) return Unsupported(o, "the driver has neither VBR nor CBR rate control");
  o.notHonoured.push_back("VBR: the driver has none, CBR at the target rate instead (PeakBitrate unused)");
  o.rateControl = VaapiRateControl::Cbr;
  o.bitRate = o.maxRate = target;
  o.bufferSize = ClampToInt(target);
  return true;
}

struct HevcLevel {
  int idc;
  std::int64_t maxLumaPs, maxLumaSr, maxMainBr, maxHighBr;  // samples, samples per second, kbit/s
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

}  // namespace

int HevcLevelIdc(int width, int height, amf::AMFRate frameRate, std::int64_t peakBitrate, bool highTier) {
  if (width <= 0 || height <= 0 || frameRate.num == 0 || frameRate.den == 0) return 0;
  const std::int64_t pictureSize = static_cast<std::int64_t>(width) * height;
  for (const HevcLevel& level : kHevcLevels) {
    // Neither side may pass sqrt(8 x MaxLumaPs).
    const std::int64_t side = static_cast<std::int64_t>(width > height ? width : height);
    const std::int64_t maxBr = (highTier && level.maxHighBr > 0 ? level.maxHighBr : level.maxMainBr) * 1000;
    if (pictureSize <= level.maxLumaPs && side * side <= 8 * level.maxLumaPs &&
        pictureSize * frameRate.num <= level.maxLumaSr * static_cast<std::int64_t>(frameRate.den) &&
        peakBitrate <= maxBr)
      return level.idc;
  }
  return 0;
}

int VaapiProfileOf(const EncoderSettings& settings) {
  if (settings.codec == Codec::Hevc) return VAProfileHEVCMain;
  switch (settings.profile) {
    case AMF_VIDEO_ENCODER_PROFILE_BASELINE: return VAProfileH264ConstrainedBaseline;
    case AMF_VIDEO_ENCODER_PROFILE_MAIN: return VAProfileH264Main;
    default: return VAProfileH264High;
  }
}

const char* VaapiProfileName(int vaProfile) { return vaProfileStr(static_cast<VAProfile>(vaProfile)); }

const char* RateControlName(VaapiRateControl mode) {
  switch (mode) {
    case VaapiRateControl::Cbr: return "CBR";
    case VaapiRateControl::Cqp: return "CQP";
    default: return "VBR";
  }
}

VaapiOptions BuildVaapiOptions(const EncoderSettings& s, const VaapiCapabilities& caps, int width, int height) {
  const bool avc = s.codec == Codec::Avc;
  VaapiOptions o;
  o.codecName = avc ? "h264_vaapi" : "hevc_vaapi";
  o.profile = avc ? AvcProfileOption(s.profile) : "main";
  if (!caps.slice.present && !caps.lowPower.present) {
    Unsupported(o, std::string("the driver has no encoder for ") + VaapiProfileName(VaapiProfileOf(s)));
    return o;
  }
  // Low latency prefers the low-power entry point, the rest the full one; either gives way to the
  // other when only that one takes the size and the asked rate control as they are.
  const VaapiEntrypoint* order[] = {&caps.slice, &caps.lowPower};
  if (s.lowLatency) std::swap(order[0], order[1]);
  const VaapiEntrypoint* chosen = nullptr;
  for (const VaapiEntrypoint* entry : order)
    if (chosen == nullptr && entry->present && Fits(*entry, width, height) && OffersAskedMode(s, *entry))
      chosen = entry;
  for (const VaapiEntrypoint* entry : order)
    if (chosen == nullptr && entry->present && Fits(*entry, width, height)) chosen = entry;
  if (chosen == nullptr) {
    const VaapiEntrypoint& entry = caps.slice.present ? caps.slice : caps.lowPower;
    Unsupported(o, "the driver encodes " + std::string(VaapiProfileName(VaapiProfileOf(s))) + " up to " +
                       std::to_string(entry.maxWidth) + "x" + std::to_string(entry.maxHeight) + ", not " +
                       std::to_string(width) + "x" + std::to_string(height));
    return o;
  }
  o.lowPower = chosen == &caps.lowPower;
  const VaapiEntrypoint& entry = *chosen;
  if (!ChooseRateControl(s, entry, o)) return o;

  o.gopSize = s.idrPeriod > 0 ? ClampToInt(s.idrPeriod) : kOnlyFirstIdrGop;
  o.maxBFrames = avc ? ClampToInt(s.bFrames) : 0;
  if (o.maxBFrames > 0 && !entry.backwardReferences) {
    o.notHonoured.push_back("BPicturesPattern " + std::to_string(o.maxBFrames) +
                            ": the driver has no backward references here, P-frames only");
    o.maxBFrames = 0;
  }
  // One frame in flight: each output is ready as soon as its frame is encoded.
  o.asyncDepth = s.lowLatency ? 1 : 2;

  const int levels = entry.qualityLevels;
  if (levels > 0) {
    // Level 1 is the best quality, the highest level the fastest.
    o.qualityLevel = s.preset == Preset::Speed ? levels : s.preset == Preset::Quality ? 1 : (levels + 1) / 2;
  } else if (s.preset != Preset::Balanced) {
    o.notHonoured.push_back(std::string("QualityPreset ") + (s.preset == Preset::Speed ? "speed" : "quality") +
                            ": the driver has no quality levels, its default is used");
  }
  o.tier = s.highTier ? 1 : 0;
  if (!avc && s.enforceHrd)
    o.notHonoured.push_back("HevcEnforceHRD 1: hevc_vaapi writes no HRD parameters");
  // No encoder identifier SEI; buffering-period and picture-timing SEI only when HRD is enforced.
  o.sei = avc ? (s.enforceHrd ? "timing" : "0") : nullptr;
  o.gpuConversion = caps.videoProcessingFromBgra;
  // hevc_vaapi's own guess leaves the frame rate out: 1080p60 would claim level 4, whose decoders
  // need only take half that rate.
  if (!avc) o.level = HevcLevelIdc(width, height, s.frameRate, std::max(o.maxRate, o.bitRate), s.highTier);
  return o;
}

}  // namespace corvantis::amfrt
