#include "platform/va_probe.h"

#include <algorithm>
#include <vector>

#include <va/va_str.h>

#include "platform/va_display.h"

namespace corvantis {
namespace {

bool Supported(const VAConfigAttrib& attribute) {
  return attribute.value != VA_ATTRIB_NOT_SUPPORTED;
}

VaapiEntrypoint ProbeEntrypoint(VADisplay display, VAProfile profile, VAEntrypoint entrypoint) {
  VAConfigAttrib attributes[] = {
      {VAConfigAttribRTFormat, 0},         {VAConfigAttribRateControl, 0},
      {VAConfigAttribEncQualityRange, 0},  {VAConfigAttribMaxPictureWidth, 0},
      {VAConfigAttribMaxPictureHeight, 0}, {VAConfigAttribEncMaxRefFrames, 0},
      {VAConfigAttribEncHEVCBlockSizes, 0}};
  VaapiEntrypoint entry;
  if (vaGetConfigAttributes(display, profile, entrypoint, attributes,
                            static_cast<int>(std::size(attributes))) != VA_STATUS_SUCCESS)
    return entry;
  const auto& [format, rateControl, quality, maxWidth, maxHeight, references, blocks] = attributes;
  entry.Present = !Supported(format) || (format.value & VA_RT_FORMAT_YUV420) != 0;
  if (Supported(rateControl)) entry.RateControlModes = rateControl.value;
  if (Supported(quality)) entry.QualityLevels = static_cast<int>(quality.value);
  if (Supported(maxWidth)) entry.MaxWidth = static_cast<int>(maxWidth.value);
  if (Supported(maxHeight)) entry.MaxHeight = static_cast<int>(maxHeight.value);
  if (Supported(references)) entry.BackwardReferences = ((references.value >> 16) & 0xFFFF) > 0;
  if (Supported(blocks)) {
    VAConfigAttribValEncHEVCBlockSizes sizes;
    sizes.value = blocks.value;
    entry.MinCodingBlock = 8 << sizes.bits.log2_min_luma_coding_block_size_minus3;
  }
  return entry;
}

std::vector<VAEntrypoint> Entrypoints(VADisplay display, VAProfile profile) {
  std::vector<VAEntrypoint> entrypoints(
      static_cast<std::size_t>(std::max(vaMaxNumEntrypoints(display), 0)));
  int count = 0;
  if (entrypoints.empty() ||
      vaQueryConfigEntrypoints(display, profile, entrypoints.data(), &count) != VA_STATUS_SUCCESS)
    return {};
  entrypoints.resize(
      static_cast<std::size_t>(std::clamp<int>(count, 0, static_cast<int>(entrypoints.size()))));
  return entrypoints;
}

bool Contains(const std::vector<VAEntrypoint>& list, VAEntrypoint entrypoint) {
  return std::find(list.begin(), list.end(), entrypoint) != list.end();
}

bool CanUploadBgra(VADisplay display) {
  std::vector<VAImageFormat> formats(
      static_cast<std::size_t>(std::max(vaMaxNumImageFormats(display), 0)));
  int count = 0;
  if (formats.empty() || vaQueryImageFormats(display, formats.data(), &count) != VA_STATUS_SUCCESS)
    return false;
  formats.resize(
      static_cast<std::size_t>(std::clamp<int>(count, 0, static_cast<int>(formats.size()))));
  return std::any_of(formats.begin(), formats.end(),
                     [](const VAImageFormat& f) { return f.fourcc == VA_FOURCC_BGRA; });
}

bool VideoProcessorTakesBgra(VADisplay display) {
  if (!Contains(Entrypoints(display, VAProfileNone), VAEntrypointVideoProc)) return false;
  VAConfigID config = VA_INVALID_ID;
  if (vaCreateConfig(display, VAProfileNone, VAEntrypointVideoProc, nullptr, 0, &config) !=
      VA_STATUS_SUCCESS)
    return false;
  unsigned count = 0;
  std::vector<VASurfaceAttrib> attributes;
  if (vaQuerySurfaceAttributes(display, config, nullptr, &count) == VA_STATUS_SUCCESS &&
      count > 0) {
    attributes.resize(count);
    if (vaQuerySurfaceAttributes(display, config, attributes.data(), &count) != VA_STATUS_SUCCESS)
      count = 0;
    attributes.resize(std::min<std::size_t>(count, attributes.size()));
  }
  vaDestroyConfig(display, config);
  return std::any_of(attributes.begin(), attributes.end(), [](const VASurfaceAttrib& a) {
    return a.type == VASurfaceAttribPixelFormat && a.value.type == VAGenericValueTypeInteger &&
           static_cast<unsigned>(a.value.value.i) == VA_FOURCC_BGRA;
  });
}

// A driver that does not report its rate-control modes is taken to have them all.
bool Offers(const VaapiEntrypoint& entry, std::uint32_t mode) {
  return entry.RateControlModes == 0 || (entry.RateControlModes & mode) != 0;
}

bool Fits(const VaapiEntrypoint& entry, int width, int height) {
  return (entry.MaxWidth <= 0 || width <= entry.MaxWidth) &&
         (entry.MaxHeight <= 0 || height <= entry.MaxHeight);
}

// VBR and CBR stand in for each other at the target rate; constant QP has no stand-in.
bool OffersOrStandIn(const VaapiEntrypoint& entry, std::uint32_t mode) {
  if (mode == VA_RC_CQP) return Offers(entry, VA_RC_CQP);
  return Offers(entry, VA_RC_VBR) || Offers(entry, VA_RC_CBR);
}

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

std::string ModeNames(std::uint32_t modes) {
  std::string names;
  for (const auto& [bit, name] :
       {std::pair{VA_RC_CBR, "CBR"}, std::pair{VA_RC_VBR, "VBR"}, std::pair{VA_RC_CQP, "CQP"},
        std::pair{VA_RC_ICQ, "ICQ"}, std::pair{VA_RC_QVBR, "QVBR"}, std::pair{VA_RC_AVBR, "AVBR"}})
    if ((modes & bit) != 0) names += (names.empty() ? "" : ", ") + std::string(name);
  return names.empty() ? "none" : names;
}

bool IsHevc(VAProfile profile) {
  return profile == VAProfileHEVCMain || profile == VAProfileHEVCMain10;
}

std::string NoEncoder(const VaEncodeAsk& ask) {
  std::string why = std::string("the driver has no encoder for ") + vaProfileStr(ask.Profile);
  // Mesa's encoders are a build option (-Dvideo-codecs); some distributions leave them out.
  if (Contains(ask.Vendor, "Mesa"))
    why += std::string(" (a distribution may have built Mesa without ") +
           (IsHevc(ask.Profile) ? "h265enc" : "h264enc") + "; see README)";
  return why;
}

std::string NoRateControl(const VaapiCapabilities& caps, const VaEncodeAsk& ask,
                          const VaapiEntrypoint& entry) {
  if (ask.RateControl == VA_RC_CQP) return "the driver has no constant-QP rate control";
  std::string why = "the driver has neither VBR nor CBR rate control (offers " +
                    ModeNames(entry.RateControlModes) + ")";
  // iHD on Gen12 encodes through VDEnc alone and lists VBR and CBR there only with HuC loaded
  // (media_libva_caps_g12.cpp, FtrEnableMediaKernels).
  if (Contains(ask.Vendor, "Intel") && caps.LowPower.Present && !caps.Slice.Present)
    why +=
        "; Intel Gen12 encodes through the low-power entry point only, where VBR and CBR need "
        "the HuC firmware, which is not loaded (i915.enable_guc=2 loads it)";
  return why;
}

}  // namespace

VaapiCapabilities ProbeVaapi(VADisplay display, VAProfile profile) {
  VaapiCapabilities caps;
  std::vector<VAProfile> profiles(static_cast<std::size_t>(std::max(vaMaxNumProfiles(display), 0)));
  int count = 0;
  if (profiles.empty() ||
      vaQueryConfigProfiles(display, profiles.data(), &count) != VA_STATUS_SUCCESS)
    return caps;
  profiles.resize(
      static_cast<std::size_t>(std::clamp<int>(count, 0, static_cast<int>(profiles.size()))));
  if (std::find(profiles.begin(), profiles.end(), profile) == profiles.end()) return caps;
  const std::vector<VAEntrypoint> entrypoints = Entrypoints(display, profile);
  if (Contains(entrypoints, VAEntrypointEncSlice))
    caps.Slice = ProbeEntrypoint(display, profile, VAEntrypointEncSlice);
  if (Contains(entrypoints, VAEntrypointEncSliceLP))
    caps.LowPower = ProbeEntrypoint(display, profile, VAEntrypointEncSliceLP);
  caps.VideoProcessingFromBgra = VideoProcessingFromBgra(display);
  return caps;
}

bool VideoProcessingFromBgra(VADisplay display) {
  return VideoProcessorTakesBgra(display) && CanUploadBgra(display);
}

VaEncodeChoice ChooseVaEntrypoint(const VaapiCapabilities& caps, const VaEncodeAsk& ask) {
  VaEncodeChoice choice;
  const VaapiEntrypoint* order[] = {&caps.Slice, &caps.LowPower};
  if (ask.PreferLowPower) std::swap(order[0], order[1]);
  if (!order[0]->Present && !order[1]->Present) {
    choice.Refusal = NoEncoder(ask);
    return choice;
  }
  const auto pick = [&](auto&& takes) {
    for (const VaapiEntrypoint* entry : order)
      if (choice.Entry == nullptr && entry->Present && Fits(*entry, ask.Width, ask.Height) &&
          takes(*entry))
        choice.Entry = entry;
  };
  pick([&](const VaapiEntrypoint& e) { return Offers(e, ask.RateControl); });
  pick([&](const VaapiEntrypoint& e) { return OffersOrStandIn(e, ask.RateControl); });
  if (choice.Entry != nullptr) return choice;
  for (const VaapiEntrypoint* entry : order)
    if (entry->Present && Fits(*entry, ask.Width, ask.Height)) {
      choice.Refusal = NoRateControl(caps, ask, *entry);
      return choice;
    }
  const VaapiEntrypoint& entry = caps.Slice.Present ? caps.Slice : caps.LowPower;
  choice.Refusal = "the driver encodes " + std::string(vaProfileStr(ask.Profile)) + " up to " +
                   std::to_string(entry.MaxWidth) + "x" + std::to_string(entry.MaxHeight) +
                   ", not " + std::to_string(ask.Width) + "x" + std::to_string(ask.Height);
  return choice;
}

VaNodeFacts ProbeVaNode(const std::string& nodePath) {
  VaNodeFacts facts;
  const std::unique_ptr<VaDisplay> display = VaDisplay::Open(nodePath, {}, &facts.Failure);
  if (!display) {
    facts.H264 = facts.Hevc = facts.Failure;
    return facts;
  }
  facts.Vendor = display->VendorString();
  facts.DriverPath = display->DriverPath();
  for (auto [profile, verdict] :
       {std::pair{VAProfileH264High, &facts.H264}, std::pair{VAProfileHEVCMain, &facts.Hevc}}) {
    VaEncodeAsk ask;
    ask.Profile = profile;
    ask.Width = 3840;
    ask.Height = 2160;
    ask.Vendor = facts.Vendor;
    *verdict = ChooseVaEntrypoint(ProbeVaapi(display->Handle(), profile), ask).Refusal;
  }
  return facts;
}

}  // namespace corvantis
