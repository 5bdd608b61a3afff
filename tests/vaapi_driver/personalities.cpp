#include "tests/vaapi_driver/personalities.h"

#include <va/va_enc_hevc.h>

#include <algorithm>

namespace corvantis::vadriver {
namespace {

constexpr VAEntrypoint kDecode = VAEntrypointVLD;
constexpr VAEntrypoint kEncode = VAEntrypointEncSlice;
constexpr VAEntrypoint kLowPower = VAEntrypointEncSliceLP;
constexpr std::uint32_t kNone = VA_ATTRIB_NOT_SUPPORTED;

const std::vector<std::uint32_t> kMesaImages = {
    VA_FOURCC_NV12, VA_FOURCC_P010, VA_FOURCC_P016, VA_FOURCC_I420, VA_FOURCC_YV12, VA_FOURCC_YUY2,
    VA_FOURCC_UYVY, VA_FOURCC_BGRA, VA_FOURCC_RGBA, VA_FOURCC_BGRX, VA_FOURCC_RGBX};
const std::vector<std::uint32_t> kMesaProcessor = {VA_FOURCC_NV12, VA_FOURCC_P010, VA_FOURCC_BGRA,
                                                   VA_FOURCC_RGBA, VA_FOURCC_BGRX, VA_FOURCC_RGBX};

std::uint32_t VcnHevcFeatures() {
  VAConfigAttribValEncHEVCFeatures f{};
  f.bits.amp = f.bits.strong_intra_smoothing = f.bits.constrained_intra_pred =
      f.bits.deblocking_filter_disable = f.bits.sao = VA_FEATURE_SUPPORTED;
  return f.value;
}

std::uint32_t VcnHevcBlockSizes() {
  VAConfigAttribValEncHEVCBlockSizes b{};
  b.bits.log2_max_coding_tree_block_size_minus3 = 3;
  b.bits.log2_min_coding_tree_block_size_minus3 = 3;
  b.bits.log2_max_luma_transform_block_size_minus2 = 3;
  return b.value;
}

// Mesa 22.3.6's radeonsi on a VCN 3 part (RX 6600, navi23).
Personality Radeonsi() {
  return {
      "radeonsi",
      "Mesa Gallium driver 22.3.6 for AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, "
      "6.1.0-18-amd64)",
      // config.c vlVaQueryConfigProfiles / vlVaQueryConfigEntrypoints over si_get.c
      // si_get_video_param: decoders, the one encode entry point, the compositor on
      // VAProfileNone.
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
      {
          {VAConfigAttribRTFormat, VA_RT_FORMAT_YUV420, VA_RT_FORMAT_YUV420,
           "config.c vlVaGetConfigAttributes; si_get.c si_vid_is_format_supported (Main 10: "
           "also 10-bit)"},
          {VAConfigAttribRateControl, VA_RC_CQP | VA_RC_CBR | VA_RC_VBR,
           VA_RC_CQP | VA_RC_CBR | VA_RC_VBR, "config.c vlVaGetConfigAttributes"},
          {VAConfigAttribEncRateControlExt, 3 | 1 << 8, 0,
           "config.c vlVaGetConfigAttributes; si_get_video_param MAX_TEMPORAL_LAYERS 4 (AVC)"},
          {VAConfigAttribEncPackedHeaders, VA_ENC_PACKED_HEADER_NONE, VA_ENC_PACKED_HEADER_SEQUENCE,
           "config.c vlVaGetConfigAttributes"},
          {VAConfigAttribEncMaxSlices, 128, 128,
           "si_get_video_param ENC_MAX_SLICES_PER_FRAME (RAVEN and later)"},
          {VAConfigAttribEncMaxRefFrames, 1, 1,
           "config.c vlVaGetConfigAttributes: 1 when ENC_MAX_REFERENCES_PER_FRAME is 0"},
          {VAConfigAttribEncSliceStructure,
           VA_ENC_SLICE_STRUCTURE_POWER_OF_TWO_ROWS | VA_ENC_SLICE_STRUCTURE_EQUAL_ROWS |
               VA_ENC_SLICE_STRUCTURE_EQUAL_MULTI_ROWS,
           VA_ENC_SLICE_STRUCTURE_POWER_OF_TWO_ROWS | VA_ENC_SLICE_STRUCTURE_EQUAL_ROWS |
               VA_ENC_SLICE_STRUCTURE_EQUAL_MULTI_ROWS,
           "si_get_video_param ENC_SLICES_STRUCTURE (RENOIR and later)"},
          {VAConfigAttribEncQualityRange, 32, 32,
           "si_get_video_param ENC_QUALITY_LEVEL; a vlVaQualityBits field (picture.c)"},
          {VAConfigAttribMaxFrameSize, 1, 1, "si_get_video_param ENC_SUPPORTS_MAX_FRAME_SIZE"},
          {VAConfigAttribEncHEVCFeatures, kNone, VcnHevcFeatures(),
           "si_get_video_param ENC_HEVC_FEATURE_FLAGS"},
          {VAConfigAttribEncHEVCBlockSizes, kNone, VcnHevcBlockSizes(),
           "si_get_video_param ENC_HEVC_BLOCK_SIZES: CTB 64, min CB 8"},
      },
      true,
      HeaderWriter::Vcn,  // radeon_vcn_enc_1_2.c radeon_enc_headers_h264 / _hevc
      true,  // si_get_video_param PREFERS_INTERLACED for PIPE_VIDEO_PROFILE_UNKNOWN; surface.c
      ProcessorMatrix::Bt709Limited,  // postproc.c vlVaPostProcBlit -> vl_compositor.c
                                      // vl_compositor_convert_rgb_to_yuv (BT_709_REV)
      SyncBuffer::MesaAsync,  // buffer.c vlVaSyncBuffer; ENC_SUPPORTS_ASYNC_OPERATION (RAVEN+)
      kMesaImages,            // image.c vlVaQueryImageFormats
      kMesaProcessor,         // surface.c vpp_surface_formats
  };
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

// Mesa 22.3.6's radeonsi on Polaris (RX 580): VCE 3.4 encodes H.264, UVD 6.3's encoder HEVC
// Main; none of the RAVEN-and-later answers.
Personality Polaris() {
  // si_get_video_param SUPPORTED: AVC with a known VCE firmware, HEVC Main with UVD-enc, Main 10
  // only from RENOIR; no VP9, AV1 or JPEG decoding before VCN.
  Personality p = Without(Radeonsi(), "polaris", kEncode, {VAProfileHEVCMain10});
  std::erase_if(p.profiles, [](const ProfileEntrypoints& e) {
    return e.profile == VAProfileJPEGBaseline || e.profile == VAProfileVP9Profile0 ||
           e.profile == VAProfileVP9Profile2 || e.profile == VAProfileAV1Profile0;
  });
  p.vendor =
      "Mesa Gallium driver 22.3.6 for AMD Radeon RX 580 Series (polaris10, LLVM 15.0.6, DRM "
      "3.49, 6.1.0-18-amd64)";
  p.encode = {
      {VAConfigAttribRTFormat, VA_RT_FORMAT_YUV420, VA_RT_FORMAT_YUV420,
       "config.c vlVaGetConfigAttributes"},
      {VAConfigAttribRateControl, VA_RC_CQP | VA_RC_CBR | VA_RC_VBR,
       VA_RC_CQP | VA_RC_CBR | VA_RC_VBR, "config.c vlVaGetConfigAttributes"},
      {VAConfigAttribEncRateControlExt, 0, 0, "si_get_video_param MAX_TEMPORAL_LAYERS 0"},
      {VAConfigAttribEncPackedHeaders, VA_ENC_PACKED_HEADER_NONE, VA_ENC_PACKED_HEADER_SEQUENCE,
       "config.c vlVaGetConfigAttributes"},
      {VAConfigAttribEncMaxSlices, 1, 1, "si_get_video_param ENC_MAX_SLICES_PER_FRAME"},
      {VAConfigAttribEncMaxRefFrames, 1, 1, "config.c vlVaGetConfigAttributes"},
  };
  p.headers = HeaderWriter::VceUvd;    // radeon_vce_52.c; radeon_uvd_enc_1_1.c encode()
  p.syncBuffer = SyncBuffer::Missing;  // vlVaSyncBuffer: UNIMPLEMENTED without async
  return p;
}

// Intel's media driver (iHD) 23.1 on a Gen12 part (Tiger Lake): H.264 and HEVC encode only
// through the low-power entry point (VDEnc); VBR and CBR there need the HuC firmware
// (media_libva_caps_g12.cpp MediaLibvaCapsG12::LoadHevcEncLpProfileEntrypoints and the AVC
// counterpart: VA_RC_CQP always, the other modes only with FtrEnableMediaKernels, which the
// driver keeps only when HuC is loaded).
Personality IntelGen12(bool huc) {
  const std::uint32_t rc =
      huc ? VA_RC_CQP | VA_RC_CBR | VA_RC_VBR | VA_RC_ICQ | VA_RC_QVBR : VA_RC_CQP;
  const std::uint32_t packed = VA_ENC_PACKED_HEADER_SEQUENCE | VA_ENC_PACKED_HEADER_PICTURE |
                               VA_ENC_PACKED_HEADER_SLICE | VA_ENC_PACKED_HEADER_MISC |
                               VA_ENC_PACKED_HEADER_RAW_DATA;
  return {
      huc ? "intel-gen12" : "intel-gen12-nohuc",
      "Intel iHD driver for Intel(R) Gen Graphics - 23.1.1 ()",
      {{VAProfileMPEG2Simple, {kDecode}},
       {VAProfileMPEG2Main, {kDecode}},
       {VAProfileH264Main, {kDecode, kLowPower}},
       {VAProfileH264High, {kDecode, kLowPower}},
       {VAProfileJPEGBaseline, {kDecode}},
       {VAProfileH264ConstrainedBaseline, {kDecode, kLowPower}},
       {VAProfileVP8Version0_3, {kDecode}},
       {VAProfileHEVCMain, {kDecode, kLowPower}},
       {VAProfileHEVCMain10, {kDecode, kLowPower}},
       {VAProfileVP9Profile0, {kDecode}},
       {VAProfileAV1Profile0, {kDecode}},
       {VAProfileNone, {VAEntrypointVideoProc}}},
      {
          {VAConfigAttribRTFormat, VA_RT_FORMAT_YUV420, VA_RT_FORMAT_YUV420,
           "media_libva_caps.cpp MediaLibvaCaps::CreateEncAttributes"},
          {VAConfigAttribRateControl, rc, rc,
           "media_libva_caps_g12.cpp LoadHevcEncLpProfileEntrypoints (HuC: "
           "FtrEnableMediaKernels)"},
          {VAConfigAttribEncPackedHeaders, packed, packed,
           "media_libva_caps.cpp MediaLibvaCaps::CreateEncAttributes"},
          {VAConfigAttribMaxPictureWidth, 4096, 8192,
           "media_libva_caps_g12.cpp (CODEC_4K / CODEC_8K_MAX_PIC_WIDTH)"},
          {VAConfigAttribMaxPictureHeight, 4096, 8192,
           "media_libva_caps_g12.cpp (CODEC_4K / CODEC_8K_MAX_PIC_HEIGHT)"},
          {VAConfigAttribEncMaxRefFrames, 3 | 1 << 16, 3 | 1 << 16,
           "media_libva_caps.cpp CreateEncAttributes (VDEnc L0 3, L1 1)"},
          {VAConfigAttribEncMaxSlices, 1, 1, "media_libva_caps.cpp CreateEncAttributes"},
          {VAConfigAttribEncQualityRange, 7, 7,
           "media_libva_caps.cpp CreateEncAttributes (TARGETUSAGE 1..7)"},
      },
      false,
      HeaderWriter::Packed,  // the encoder packs every header; iHD inserts them as given
      false,
      ProcessorMatrix::AsAsked,  // media_libva_vp.cpp DdiVp_SetProcPipelineParams
      SyncBuffer::Waits,         // media_libva.cpp DdiMedia_SyncBuffer
      {VA_FOURCC_NV12, VA_FOURCC_NV21, VA_FOURCC_I420, VA_FOURCC_YV12, VA_FOURCC_YUY2,
       VA_FOURCC_P010, VA_FOURCC_BGRA, VA_FOURCC_BGRX, VA_FOURCC_RGBA, VA_FOURCC_RGBX,
       VA_FOURCC_ARGB},
      {VA_FOURCC_NV12, VA_FOURCC_I420, VA_FOURCC_YUY2, VA_FOURCC_P010, VA_FOURCC_BGRA,
       VA_FOURCC_BGRX, VA_FOURCC_RGBA, VA_FOURCC_RGBX, VA_FOURCC_ARGB},
      4096,
      4096,
  };
}

Personality Renamed(Personality p, std::string name) {
  p.name = std::move(name);
  return p;
}

const std::vector<Personality>& All() {
  static const std::vector<Personality> all = [] {
    return std::vector<Personality>{
        Radeonsi(), Polaris(), IntelGen12(true), IntelGen12(false),
        Renamed(IntelGen12(true), "intel"),
        // A GCN part before Polaris: VCE encodes H.264 only.
        Without(Radeonsi(), "no-hevc", kEncode, {VAProfileHEVCMain, VAProfileHEVCMain10}),
        Without(Radeonsi(), "no-vpp", VAEntrypointVideoProc),
        Without(Radeonsi(), "no-vpp-real", VAEntrypointVideoProc),
        // Mesa built without -Dvideo-codecs=h264enc,h265enc (meson_options.txt; vl_codec.c
        // vl_codec_supported): decoders only, as on a part whose encoder the kernel hides.
        Without(Radeonsi(), "no-encoder", kEncode)};
  }();
  return all;
}

}  // namespace

std::uint32_t Personality::Attribute(VAProfile profile, VAConfigAttribType type) const {
  const bool hevc = profile == VAProfileHEVCMain || profile == VAProfileHEVCMain10;
  for (const EncodeAttribute& a : encode)
    if (a.type == type) {
      std::uint32_t value = hevc ? a.hevc : a.h264;
      // si_vid_is_format_supported: Main 10 takes P010 too.
      if (type == VAConfigAttribRTFormat && profile == VAProfileHEVCMain10)
        value |= VA_RT_FORMAT_YUV420_10;
      return value;
    }
  return VA_ATTRIB_NOT_SUPPORTED;
}

const Personality* FindPersonality(const std::string& name) {
  for (const Personality& p : All())
    if (p.name == name) return &p;
  return nullptr;
}

}  // namespace corvantis::vadriver
