#pragma once
// The parameter sets and delimiters an AMD encoder writes into the coded buffer itself, bit for bit
// as Mesa 22.3's radeonsi builds them from the parameters it was handed.
#include <va/va.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvantis::vadriver {

// Who writes a picture's non-slice units.
enum class HeaderWriter {
  Packed,  // the encoder's packed headers, as handed over (iHD)
  Vcn,     // VCN 3 firmware: radeon_vcn_enc_1_2.c, _2_0.c, _3_0.c
  VceUvd,  // pre-VCN: VCE firmware for H.264 (radeon_vce_52.c), UVD-enc for HEVC
           // (radeon_uvd_enc*.c)
};

// What Mesa holds for one encode context when a picture ends.
struct HeaderInput {
  VAProfile profile = VAProfileNone;
  int width = 0, height = 0;  // of the context: the encoder's base size
  bool idr = false;
  int pictureType = 0;  // 0 I, 1 P, 2 B (the delimiter's primary_pic_type / pic_type)
  bool rateControlNone = false;
  VAEncSequenceParameterBufferH264 h264{};
  VAEncPictureParameterBufferH264 h264Picture{};
  VAEncSequenceParameterBufferHEVC hevc{};
  VAEncPictureParameterBufferHEVC hevcPicture{};
  VAEncSliceParameterBufferHEVC hevcSlice{};
  // left, right, top, bottom of the packed SPS's conformance window, as picture_hevc_enc.c
  // (parseEncSpsParamsH265) reads it
  std::optional<std::array<std::uint32_t, 4>> conformanceWindow;
};

// The units `writer` puts ahead of the picture's slice, start codes included; empty for Packed.
std::vector<std::uint8_t> FirmwareHeaders(HeaderWriter writer, const HeaderInput& in);

// The conformance window of the first SPS in Annex-B `packed`, as Mesa's parser reads it.
std::optional<std::array<std::uint32_t, 4>> PackedConformanceWindow(
    const std::vector<std::uint8_t>& packed);

}  // namespace corvantis::vadriver
