#include "tests/vaapi_driver/personalities.h"

#include <algorithm>

namespace vadriver {
namespace {

constexpr VAEntrypoint kDecode = VAEntrypointVLD;
constexpr VAEntrypoint kEncode = VAEntrypointEncSlice;
constexpr VAEntrypoint kLowPower = VAEntrypointEncSliceLP;

// Mesa 22.3's radeonsi on a VCN 3 part (RX 6600), as vainfo lists it: decoders and the full
// encode entry point for H.264 and HEVC, the video processor on VAProfileNone, packed sequence
// headers only, no quality levels and no vaSyncBuffer.
Personality Radeonsi() {
  return {"radeonsi",
          "Mesa Gallium driver 22.3.6 for AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, "
          "6.1.0-18-amd64)",
          {{VAProfileMPEG2Simple, {kDecode}},
           {VAProfileMPEG2Main, {kDecode}},
           {VAProfileVC1Simple, {kDecode}},
           {VAProfileVC1Main, {kDecode}},
           {VAProfileVC1Advanced, {kDecode}},
           {VAProfileH264ConstrainedBaseline, {kDecode, kEncode}},
           {VAProfileH264Main, {kDecode, kEncode}},
           {VAProfileH264High, {kDecode, kEncode}},
           {VAProfileHEVCMain, {kDecode, kEncode}},
           {VAProfileHEVCMain10, {kDecode, kEncode}},
           {VAProfileJPEGBaseline, {kDecode}},
           {VAProfileVP9Profile0, {kDecode}},
           {VAProfileVP9Profile2, {kDecode}},
           {VAProfileAV1Profile0, {kDecode}},
           {VAProfileNone, {VAEntrypointVideoProc}}},
          VA_RC_CQP | VA_RC_CBR | VA_RC_VBR,
          VA_ENC_PACKED_HEADER_SEQUENCE,
          4096,
          2304,
          1,
          0,
          {VA_FOURCC_NV12, VA_FOURCC_P010, VA_FOURCC_P016, VA_FOURCC_I420, VA_FOURCC_YV12,
           VA_FOURCC_YUY2, VA_FOURCC_UYVY, VA_FOURCC_BGRA, VA_FOURCC_RGBA, VA_FOURCC_BGRX,
           VA_FOURCC_RGBX},
          {VA_FOURCC_NV12, VA_FOURCC_P010, VA_FOURCC_BGRA, VA_FOURCC_RGBA, VA_FOURCC_BGRX,
           VA_FOURCC_RGBX},
          false};
}

// Intel's media driver (iHD) on a Gen12 part: full and low-power encode entry points, every packed
// header, seven quality levels, backward references, vaSyncBuffer.
Personality Intel() {
  return {"intel",
          "Intel iHD driver for Intel(R) Gen Graphics - 23.1.1 ()",
          {{VAProfileMPEG2Simple, {kDecode}},
           {VAProfileMPEG2Main, {kDecode}},
           {VAProfileH264Main, {kDecode, kEncode, kLowPower}},
           {VAProfileH264High, {kDecode, kEncode, kLowPower}},
           {VAProfileJPEGBaseline, {kDecode}},
           {VAProfileH264ConstrainedBaseline, {kDecode, kEncode, kLowPower}},
           {VAProfileVP8Version0_3, {kDecode}},
           {VAProfileHEVCMain, {kDecode, kEncode, kLowPower}},
           {VAProfileHEVCMain10, {kDecode, kEncode, kLowPower}},
           {VAProfileVP9Profile0, {kDecode}},
           {VAProfileAV1Profile0, {kDecode}},
           {VAProfileNone, {VAEntrypointVideoProc}}},
          VA_RC_CQP | VA_RC_CBR | VA_RC_VBR | VA_RC_ICQ | VA_RC_QVBR,
          VA_ENC_PACKED_HEADER_SEQUENCE | VA_ENC_PACKED_HEADER_PICTURE |
              VA_ENC_PACKED_HEADER_SLICE | VA_ENC_PACKED_HEADER_MISC |
              VA_ENC_PACKED_HEADER_RAW_DATA,
          4096,
          4096,
          3 | 1 << 16,
          7,
          {VA_FOURCC_NV12, VA_FOURCC_NV21, VA_FOURCC_I420, VA_FOURCC_YV12, VA_FOURCC_YUY2,
           VA_FOURCC_P010, VA_FOURCC_BGRA, VA_FOURCC_BGRX, VA_FOURCC_RGBA, VA_FOURCC_RGBX,
           VA_FOURCC_ARGB},
          {VA_FOURCC_NV12, VA_FOURCC_I420, VA_FOURCC_YUY2, VA_FOURCC_P010, VA_FOURCC_BGRA,
           VA_FOURCC_BGRX, VA_FOURCC_RGBA, VA_FOURCC_RGBX, VA_FOURCC_ARGB},
          true};
}

// `p` without `entrypoint` on the profiles named, or on every profile when none is named.
Personality Without(Personality p, std::string name, VAEntrypoint entrypoint,
                    std::vector<VAProfile> profiles = {}) {
  p.name = std::move(name);
  for (ProfileEntrypoints& entry : p.profiles)
    if (profiles.empty() ||
        std::find(profiles.begin(), profiles.end(), entry.profile) != profiles.end())
      std::erase(entry.entrypoints, entrypoint);
  std::erase_if(p.profiles, [](const ProfileEntrypoints& e) { return e.entrypoints.empty(); });
  if (entrypoint == VAEntrypointVideoProc) p.processorFormats.clear();
  return p;
}

const std::vector<Personality>& All() {
  static const std::vector<Personality> all = [] {
    // Radeonsi on a GCN part before Polaris: VCE encodes H.264 only. Without an encoder at all, as
    // on a part whose encoder the kernel does not expose, it lists decoders alone.
    return std::vector<Personality>{
        Radeonsi(), Intel(),
        Without(Radeonsi(), "no-hevc", kEncode, {VAProfileHEVCMain, VAProfileHEVCMain10}),
        Without(Radeonsi(), "no-vpp", VAEntrypointVideoProc),
        Without(Radeonsi(), "no-encoder", kEncode)};
  }();
  return all;
}

}  // namespace

const Personality* FindPersonality(const std::string& name) {
  for (const Personality& p : All())
    if (p.name == name) return &p;
  return nullptr;
}

}  // namespace vadriver
