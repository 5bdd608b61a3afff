#pragma once
// A stream's parameter sets as FFmpeg's own reader (the trace_headers bitstream filter,
// libavcodec's CBS) reads them, one unit at a time in stream order, as a decoder meets them.
#include <cstdint>
#include <string>
#include <vector>

namespace corvantis::streamcheck {

enum class Codec { Avc, Hevc };

struct Report {
  bool ParameterSetsRead = false;  // every VPS, SPS and PPS read without an error
  std::string Error;               // FFmpeg's first complaint, empty when none
  std::vector<int> ParameterSets;  // NAL unit types of the parameter sets, in stream order
  bool DecodingOrder = false;      // each PPS after an SPS, each SPS after a VPS (HEVC)
  int IdrPictures = 0;             // IDR slices that begin a picture
  // From the first SPS:
  int Width = 0, Height = 0;            // displayed: the cropping or conformance window applied
  int CodedWidth = 0, CodedHeight = 0;  // what the SPS codes
  double Rate = 0;                      // frames a second of the VUI timing; 0 without one
  int Profile = 0, Level = 0;           // profile_idc / level_idc, general_* for HEVC
  int Log2MaxPocLsb = 0;                // 0 where the SPS has none (H.264 POC type 1 and 2)
  int Log2MaxFrameNum = 0;              // H.264 only
  bool LengthsLegal = false;     // every SPS's POC lsb and frame_num lengths within 4..16 bits
  bool VideoSignalType = false;  // video_signal_type_present_flag
  bool FullRange = false;
  int ColourPrimaries = 2, Transfer = 2, Matrix = 2;  // 2 (unspecified) without a description
};

// Reads an Annex-B stream, or a file holding one; a file that cannot be read gives an Error.
Report CheckStream(const std::vector<std::uint8_t>& annexB, Codec codec);
Report CheckStreamFile(const std::string& path, Codec codec);

}  // namespace corvantis::streamcheck
