#include "tests/vaapi_driver/headers.h"

#include <cstddef>

namespace corvantis::vadriver {
namespace {

// radeon_enc_code_fixed_bits / _ue / _se with radeon_enc_emulation_prevention
// (radeon_vcn_enc_1_2.c; radeon_uvd_enc_1_1.c has the same): most significant bit first, a 0x03
// after two zero bytes when the next is 0..3, once the NAL header is out.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  // A start code and the NAL header, written without emulation prevention.
  void Nal(std::initializer_list<std::uint8_t> header) {
    out_.insert(out_.end(), {0, 0, 0, 1});
    out_.insert(out_.end(), header);
    zeros_ = 0;
  }
  void Bits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      byte_ = static_cast<std::uint8_t>(byte_ << 1 | ((value >> i) & 1));
      if (++filled_ == 8) Emit();
    }
  }
  void Flag(bool value) { Bits(value ? 1 : 0, 1); }
  void Ue(std::uint32_t value) {
    const std::uint64_t code = static_cast<std::uint64_t>(value) + 1;
    int length = 0;
    while ((code >> length) > 1) ++length;
    Bits(0, length);
    Bits(static_cast<std::uint32_t>(code >> 32), length >= 32 ? length - 31 : 0);
    Bits(static_cast<std::uint32_t>(code), std::min(length + 1, 32));
  }
  void Se(std::int32_t value) {
    Ue(value > 0 ? 2u * static_cast<std::uint32_t>(value) - 1
                 : 2u * static_cast<std::uint32_t>(-static_cast<std::int64_t>(value)));
  }
  // The stop bit and zeros to the byte: "code_fixed_bits(1, 1); byte_align".
  void Trailing() {
    Bits(1, 1);
    while (filled_ != 0) Bits(0, 1);
  }

 private:
  void Emit() {
    if (zeros_ >= 2 && byte_ <= 3) {
      out_.push_back(3);
      zeros_ = 0;
    }
    out_.push_back(byte_);
    zeros_ = byte_ == 0 ? zeros_ + 1 : 0;
    byte_ = 0;
    filled_ = 0;
  }

  std::vector<std::uint8_t>& out_;
  std::uint8_t byte_ = 0;
  int filled_ = 0;
  int zeros_ = 0;
};

std::uint32_t Align(std::uint32_t value, std::uint32_t to) { return (value + to - 1) / to * to; }

// The VUI's aspect-ratio fields, as both codecs' writers put them.
template <class Sequence>
void AspectRatio(BitWriter& w, bool present, const Sequence& s) {
  w.Flag(present);
  if (!present) return;
  w.Bits(s.aspect_ratio_idc, 8);
  if (s.aspect_ratio_idc == 255) {
    w.Bits(s.sar_width, 16);
    w.Bits(s.sar_height, 16);
  }
}

bool IsHevc(VAProfile p) { return p == VAProfileHEVCMain || p == VAProfileHEVCMain10; }

// u_get_h264_profile_idc (util/u_video.h).
std::uint32_t H264ProfileIdc(VAProfile p) {
  return p == VAProfileH264High ? 100 : p == VAProfileH264Main ? 77 : 66;
}

// radeon_enc_nalu_aud (radeon_vcn_enc_1_2.c), radeon_uvd_enc_nalu_aud_hevc.
void Delimiter(BitWriter& w, const HeaderInput& in) {
  if (IsHevc(in.profile))
    w.Nal({35 << 1, 1});
  else
    w.Nal({9});
  w.Bits(static_cast<std::uint32_t>(in.pictureType), 3);
  w.Trailing();
}

// How the two H.264 writers differ.
struct H264Style {
  std::uint8_t constraintFlags;
  std::uint32_t log2MaxFrameNumMinus4;
  std::optional<std::uint32_t> pocType;  // instead of the sequence's
  std::uint32_t extraReferences;         // on top of max_num_ref_frames
  bool vui;                              // the sequence's VUI is written
};

// radeon_enc_nalu_sps (radeon_vcn_enc_1_2.c) with the values radeon_vcn_enc.c
// (radeon_vcn_enc_h264_get_param) and picture_h264_enc.c
// (vlVaHandleVAEncSequenceParameterBufferTypeH264) give it.
void H264Sps(BitWriter& w, const HeaderInput& in, const H264Style& style) {
  const VAEncSequenceParameterBufferH264& s = in.h264;
  const std::uint32_t profile = H264ProfileIdc(in.profile);
  const std::uint32_t width = static_cast<std::uint32_t>(in.width),
                      height = static_cast<std::uint32_t>(in.height);
  w.Nal({0x67});
  w.Bits(profile, 8);
  w.Bits(style.constraintFlags, 8);
  w.Bits(s.level_idc, 8);
  w.Ue(0);
  if (profile == 100 || profile == 110 || profile == 122 || profile == 244 || profile == 44 ||
      profile == 83 || profile == 86 || profile == 118 || profile == 128 || profile == 138) {
    w.Ue(1);
    w.Ue(0);
    w.Ue(0);
    w.Bits(0, 2);
  }
  w.Ue(style.log2MaxFrameNumMinus4);
  const std::uint32_t pocType = style.pocType.value_or(s.seq_fields.bits.pic_order_cnt_type);
  w.Ue(pocType);
  if (pocType == 0) w.Ue(style.pocType ? 0 : 1);
  w.Ue(s.max_num_ref_frames + style.extraReferences);
  w.Flag(false);
  w.Ue(Align(width, 16) / 16 - 1);
  w.Ue(Align(height, 16) / 16 - 1);
  w.Flag(true);
  w.Flag(true);
  // radeon_vcn_enc_h264_get_cropping_param: the sequence's window, else the 16-alignment's.
  std::uint32_t crop[4] = {0, (Align(width, 16) - width) / 2, 0, (Align(height, 16) - height) / 2};
  if (s.frame_cropping_flag)
    crop[0] = s.frame_crop_left_offset, crop[1] = s.frame_crop_right_offset,
    crop[2] = s.frame_crop_top_offset, crop[3] = s.frame_crop_bottom_offset;
  const bool cropped = crop[0] != 0 || crop[1] != 0 || crop[2] != 0 || crop[3] != 0;
  w.Flag(cropped);
  if (cropped)
    for (std::uint32_t c : crop) w.Ue(c);
  const bool vui = style.vui && s.vui_parameters_present_flag != 0;
  w.Flag(vui);
  if (vui) {
    const auto& f = s.vui_fields.bits;
    AspectRatio(w, f.aspect_ratio_info_present_flag, s);
    w.Flag(false);  // overscan
    w.Flag(false);  // video signal type: no colour description, whatever was asked
    w.Flag(false);  // chroma location
    w.Flag(f.timing_info_present_flag);
    if (f.timing_info_present_flag) {
      w.Bits(s.num_units_in_tick, 32);
      w.Bits(s.time_scale, 32);
      w.Flag(false);
    }
    w.Bits(0, 3);  // NAL and VCL HRD, pic_struct
    w.Flag(true);  // bitstream restriction
    w.Flag(true);
    w.Ue(0);
    w.Ue(0);
    w.Ue(16);
    w.Ue(16);
    w.Ue(0);
    w.Ue(s.max_num_ref_frames);
  }
  w.Trailing();
}

// radeon_enc_nalu_pps (radeon_vcn_enc_1_2.c).
void H264Pps(BitWriter& w, const HeaderInput& in) {
  const VAEncPictureParameterBufferH264& p = in.h264Picture;
  w.Nal({0x68});
  w.Ue(0);
  w.Ue(0);
  w.Flag(p.pic_fields.bits.entropy_coding_mode_flag);
  w.Flag(false);
  w.Ue(0);
  w.Ue(0);
  w.Ue(0);
  w.Bits(0, 3);
  w.Se(0);
  w.Se(0);
  w.Se(p.chroma_qp_index_offset);
  w.Flag(p.pic_fields.bits.deblocking_filter_control_present_flag);
  w.Flag(false);
  w.Flag(p.pic_fields.bits.redundant_pic_cnt_present_flag);
  if (p.pic_fields.bits.redundant_pic_cnt_present_flag) {
    w.Bits(0, 2);
    w.Se(p.second_chroma_qp_index_offset);
  }
  w.Trailing();
}

// The general profile, tier and level of radeon_enc_nalu_vps / _sps_hevc: compatibility with
// Main and Main 10, progressive, non-packed, frame-only, one sub-layer.
void ProfileTierLevel(BitWriter& w, const HeaderInput& in, std::uint32_t compatibility) {
  w.Bits(0, 2);
  w.Bits(in.hevc.general_tier_flag, 1);
  w.Bits(in.hevc.general_profile_idc, 5);
  w.Bits(compatibility, 32);
  w.Bits(0xb0000000, 32);
  w.Bits(0, 16);
  w.Bits(in.hevc.general_level_idc, 8);
}

// radeon_enc_nalu_vps (radeon_vcn_enc_1_2.c), radeon_uvd_enc_nalu_vps_hevc.
void HevcVps(BitWriter& w, const HeaderInput& in) {
  w.Nal({32 << 1, 1});
  w.Bits(0, 4);
  w.Bits(3, 2);
  w.Bits(0, 6);
  w.Bits(0, 3);
  w.Flag(true);
  w.Bits(0xffff, 16);
  ProfileTierLevel(w, in, 0x60000000);
  w.Flag(false);
  w.Ue(1);
  w.Ue(0);
  w.Ue(0);
  w.Bits(0, 6);
  w.Ue(0);
  w.Flag(false);
  w.Flag(false);
  w.Trailing();
}

// radeon_enc_nalu_sps_hevc of radeon_vcn_enc_2_0.c (VCN) and radeon_uvd_enc_nalu_sps_hevc, with
// the values radeon_vcn_enc_hevc_get_param / radeon_uvd_enc_get_param give them.
void HevcSps(BitWriter& w, const HeaderInput& in, bool vcn) {
  const VAEncSequenceParameterBufferHEVC& s = in.hevc;
  const auto& f = s.seq_fields.bits;
  const std::uint32_t width = static_cast<std::uint32_t>(in.width),
                      height = static_cast<std::uint32_t>(in.height);
  // radeon_enc_session_init (radeon_vcn_enc_3_0.c), radeon_uvd_enc_session_init_hevc.
  const std::uint32_t alignedWidth = Align(width, 64), alignedHeight = Align(height, 16);
  w.Nal({33 << 1, 1});
  w.Bits(0, 4);
  w.Bits(0, 3);
  w.Flag(true);
  ProfileTierLevel(w, in, vcn && s.general_profile_idc == 2 ? 0x20000000 : 0x60000000);
  w.Ue(0);
  w.Ue(f.chroma_format_idc);
  w.Ue(alignedWidth);
  w.Ue(alignedHeight);
  // radeon_vcn_enc_hevc_get_cropping_param: the packed SPS's window, else the 16-alignment's;
  // VCN then falls back to half the padding on each side.
  std::array<std::uint32_t, 4> crop = in.conformanceWindow.value_or(std::array<std::uint32_t, 4>{
      0, (Align(width, 16) - width) / 2, 0, (Align(height, 16) - height) / 2});
  const bool cropped = crop[0] != 0 || crop[1] != 0 || crop[2] != 0 || crop[3] != 0;
  const std::uint32_t padWidth = alignedWidth - width, padHeight = alignedHeight - height;
  if (cropped) {
    w.Flag(true);
    for (std::uint32_t c : crop) w.Ue(c);
  } else if (vcn && (padWidth != 0 || padHeight != 0)) {
    w.Flag(true);
    for (std::uint32_t c : {padWidth / 2, padWidth / 2, padHeight / 2, padHeight / 2}) w.Ue(c);
  } else {
    w.Flag(false);
  }
  w.Ue(f.bit_depth_luma_minus8);
  w.Ue(f.bit_depth_chroma_minus8);
  // max_poc = MAX2(16, util_next_power_of_two(intra_period)), log2 of it plus one: the SPS
  // carries bit length - 4, 27 for the 2^30 period of a clip with one IDR.
  std::uint64_t maxPoc = 1;
  while (maxPoc < s.intra_period) maxPoc <<= 1;
  if (maxPoc < 16) maxPoc = 16;
  std::uint32_t log2MaxPoc = 0;
  for (std::uint64_t i = maxPoc; i != 0; i >>= 1) ++log2MaxPoc;
  w.Ue(log2MaxPoc - 4);
  w.Flag(false);
  w.Ue(1);
  w.Ue(0);
  w.Ue(0);
  const std::uint32_t minCb = s.log2_min_luma_coding_block_size_minus3;
  w.Ue(minCb);
  w.Ue(6 - (minCb + 3));
  w.Ue(s.log2_min_transform_block_size_minus2);
  w.Ue(s.log2_diff_max_min_transform_block_size);
  // VCN "fixes" the depths to the 64 CTB; UVD keeps what it was given.
  w.Ue(vcn ? 6 - (minCb + 3) + 1 : s.max_transform_hierarchy_depth_inter);
  w.Ue(vcn ? 6 - (minCb + 3) + 1 : s.max_transform_hierarchy_depth_intra);
  w.Flag(false);
  w.Flag(f.amp_enabled_flag);
  w.Flag(f.sample_adaptive_offset_enabled_flag);
  w.Flag(vcn && f.pcm_enabled_flag);  // UVD: "HW not support PCM"
  w.Ue(1);
  w.Ue(1);
  w.Ue(0);
  w.Ue(0);
  w.Flag(true);
  w.Flag(false);
  w.Flag(false);
  w.Flag(f.strong_intra_smoothing_enabled_flag);
  const bool vui = vcn && s.vui_parameters_present_flag != 0;
  w.Flag(vui);
  if (vui) {
    const auto& v = s.vui_fields.bits;
    AspectRatio(w, v.aspect_ratio_info_present_flag, s);
    // overscan, video signal type (no colour description), chroma location, neutral chroma,
    // field sequence, frame field info, default display window
    w.Bits(0, 7);
    w.Flag(v.vui_timing_info_present_flag);
    if (v.vui_timing_info_present_flag) {
      w.Bits(s.vui_num_units_in_tick, 32);
      w.Bits(s.vui_time_scale, 32);
      w.Bits(0, 2);
    }
    w.Flag(false);
  }
  w.Flag(false);
  w.Trailing();
}

// radeon_enc_nalu_pps_hevc of radeon_vcn_enc_3_0.c (VCN: transform skip on) and
// radeon_uvd_enc_nalu_pps_hevc.
void HevcPps(BitWriter& w, const HeaderInput& in, bool vcn) {
  const VAEncSliceParameterBufferHEVC& slice = in.hevcSlice;
  const auto& sf = slice.slice_fields.bits;
  w.Nal({34 << 1, 1});
  w.Ue(0);
  w.Ue(0);
  w.Flag(true);
  w.Bits(0, 4);
  w.Flag(false);
  w.Flag(true);
  w.Ue(0);
  w.Ue(0);
  w.Se(0);
  w.Flag(in.hevcPicture.pic_fields.bits.constrained_intra_pred_flag);
  w.Flag(vcn);
  w.Flag(!in.rateControlNone);
  if (!in.rateControlNone) w.Ue(0);
  w.Se(slice.slice_cb_qp_offset);
  w.Se(slice.slice_cr_qp_offset);
  w.Flag(false);
  w.Bits(0, 2);
  w.Bits(0, 3);
  w.Flag(sf.slice_loop_filter_across_slices_enabled_flag);
  w.Flag(true);
  w.Flag(false);
  w.Flag(sf.slice_deblocking_filter_disabled_flag);
  if (!sf.slice_deblocking_filter_disabled_flag) {
    w.Se(slice.slice_beta_offset_div2);
    w.Se(slice.slice_tc_offset_div2);
  }
  w.Flag(false);
  w.Flag(false);
  w.Ue(in.hevcPicture.log2_parallel_merge_level_minus2);
  w.Bits(0, 2);
  w.Trailing();
}

// vl_rbsp over one NAL unit: bits with the emulation-prevention bytes taken out.
class BitReader {
 public:
  BitReader(const std::uint8_t* data, std::size_t size) {
    int zeros = 0;
    for (std::size_t i = 0; i < size; ++i) {
      if (zeros >= 2 && data[i] == 3) {
        zeros = 0;
        continue;
      }
      bytes_.push_back(data[i]);
      zeros = data[i] == 0 ? zeros + 1 : 0;
    }
  }
  std::uint32_t Bits(int count) {
    std::uint32_t v = 0;
    for (int i = 0; i < count; ++i) {
      const std::size_t byte = at_ / 8;
      const int bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - at_ % 8)) & 1 : 0;
      v = v << 1 | static_cast<std::uint32_t>(bit);
      ++at_;
    }
    return v;
  }
  std::uint32_t Ue() {
    int zeros = 0;
    while (Bits(1) == 0 && zeros < 31) ++zeros;
    return (1u << zeros) - 1 + Bits(zeros);
  }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

}  // namespace

std::vector<std::uint8_t> FirmwareHeaders(HeaderWriter writer, const HeaderInput& in) {
  std::vector<std::uint8_t> out;
  if (writer == HeaderWriter::Packed) return out;
  BitWriter w(out);
  const bool vcn = writer == HeaderWriter::Vcn;
  if (IsHevc(in.profile)) {
    // radeon_enc_headers_hevc: at an IDR; radeon_uvd_enc's encode(): at every intra picture.
    Delimiter(w, in);
    if (in.idr || (!vcn && in.pictureType == 0)) {
      HevcVps(w, in);
      HevcPps(w, in, vcn);
      HevcSps(w, in, vcn);
    }
    return out;
  }
  if (vcn) {
    // radeon_enc_headers_h264
    Delimiter(w, in);
    if (in.idr) {
      H264Sps(w, in, {0x44, 1, std::nullopt, 0, true});
      H264Pps(w, in);
    }
    return out;
  }
  // VCE writes its parameter sets in firmware; radeon_vce_52.c hands it constraint_set1
  // (get_pic_control_param: enc_constraint_set_flags 0x40), POC type 0 with lsb length 4 (the
  // zeroed pic_control fields), one reference more than asked and no VUI
  // (getEncParamPresetH264: enable_vui false). No delimiter is configured.
  if (in.idr) {
    H264Sps(w, in, {0x40, 0, 0u, 1, false});
    H264Pps(w, in);
  }
  return out;
}

std::optional<std::array<std::uint32_t, 4>> PackedConformanceWindow(
    const std::vector<std::uint8_t>& packed) {
  for (std::size_t i = 0; i + 5 < packed.size(); ++i) {
    if (packed[i] != 0 || packed[i + 1] != 0 || packed[i + 2] != 1) continue;
    if (((packed[i + 3] >> 1) & 0x3f) != 33) continue;
    std::size_t end = i + 3;
    while (end + 2 < packed.size() &&
           !(packed[end] == 0 && packed[end + 1] == 0 && packed[end + 2] <= 1))
      ++end;
    if (end + 2 >= packed.size()) end = packed.size();
    BitReader r(packed.data() + i + 5, end - i - 5);
    r.Bits(4);
    const std::uint32_t subLayers = r.Bits(3);
    r.Bits(1);
    r.Bits(88 + 8);
    std::uint32_t profilePresent = 0, levelPresent = 0;
    for (std::uint32_t k = 0; k < subLayers; ++k) {
      profilePresent |= r.Bits(1) << k;
      levelPresent |= r.Bits(1) << k;
    }
    if (subLayers > 0) r.Bits(2 * static_cast<int>(8 - subLayers));
    for (std::uint32_t k = 0; k < subLayers; ++k) {
      if (profilePresent >> k & 1) r.Bits(88);
      if (levelPresent >> k & 1) r.Bits(8);
    }
    r.Ue();
    if (r.Ue() == 3) r.Bits(1);
    r.Ue();
    r.Ue();
    if (r.Bits(1) == 0) return std::nullopt;
    std::array<std::uint32_t, 4> window{};
    for (std::uint32_t& v : window) v = r.Ue();
    return window;
  }
  return std::nullopt;
}

}  // namespace corvantis::vadriver
