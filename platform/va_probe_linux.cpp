#include "platform/va_probe.h"

#include <algorithm>
#include <vector>

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

}  // namespace corvantis
