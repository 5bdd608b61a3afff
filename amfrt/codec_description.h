#pragma once
#include <cstdint>
#include <span>

#include "amf/api/variant.h"

namespace corvantis::amfrt {

enum class Codec { Avc, Hevc };

// Names that differ between the two encoders.
struct CodecNames {
  const wchar_t* ComponentId;
  const wchar_t* InsertAud;
  const wchar_t* InsertHeaders;        // AVC: "InsertSPS" (with "InsertPPS")
  const wchar_t* InsertHeadersSecond;  // AVC: "InsertPPS"; nullptr for HEVC
  const wchar_t* OutputDataType;
};

// The names of the properties that both encoders have, each in its codec's spelling.
struct SettingNames {
  const wchar_t* FrameRate;
  const wchar_t* Profile;
  const wchar_t* LowLatency;
  const wchar_t* RateControl;
  const wchar_t* TargetBitrate;
  const wchar_t* PeakBitrate;
  const wchar_t* EnforceHrd;
  const wchar_t* QualityPreset;
};

// A quality preset property's AMF values.
struct PresetValues {
  amf::amf_int64 Speed;
  amf::amf_int64 Balanced;
  amf::amf_int64 Quality;
};

// A rate control property's AMF values; the two codecs number them differently.
struct RateControlValues {
  amf::amf_int64 ConstantQp;
  amf::amf_int64 Cbr;
  amf::amf_int64 PeakConstrainedVbr;
  amf::amf_int64 LatencyConstrainedVbr;
};

// What an encoder property takes.
struct PropertyRule {
  const wchar_t* Name;
  amf::AMF_VARIANT_TYPE Type;
  amf::amf_int64 Max;
  std::span<const amf::amf_int64> Allowed;    // the AMF values; empty: any in [0, max]
  std::span<const amf::amf_int64> Supported;  // those this runtime encodes; empty: all allowed
};

// One AMF profile as the libavcodec encoders and VA name it.
struct ProfileNames {
  amf::amf_int64 Amf;
  const char* Software;       // libx264's or libx265's "profile"
  const char* SoftwareTools;  // parameters that make x264 signal that profile; "" none
  const char* Vaapi;          // h264_vaapi's or hevc_vaapi's "profile"
  int VaProfile;
};

// The library's own parameters (x264-params, x265-params) for what the runtime asks of both.
struct LibraryParams {
  const char* Quiet;        // keeps the library's log off standard error; "" none needed
  const char* EndlessGop;   // no periodic key frame
  const char* NoLookahead;  // what the zerolatency tune sets
  const char* HrdCbr;
  const char* HrdVbr;
  const char* HrdOff;
};

// How the codec's Annex B stream names its units.
struct NalTypes {
  int HeaderShift;  // the type is (first byte >> shift) & mask
  int HeaderMask;
  std::span<const int> ParameterSets;  // in decoding order
  std::span<const int> Idr;
  std::span<const int> CleanRandomAccess;  // intra pictures that are no IDR
  int Delimiter;
  std::span<const std::uint8_t> DelimiterHeader;  // the delimiter's NAL header bytes
  // Slices whose header opens with first_mb_in_slice and slice_type (H.264 7.3.3); empty where
  // slice_type cannot be read without the picture parameter set.
  std::span<const int> TypedSlices;
};

// Everything the runtime knows of one codec, chosen once from its Codec.
struct CodecDescription {
  Codec Id;
  CodecNames Names;
  SettingNames Settings;
  // Rules of the properties other than those Settings names, and of Profile and QualityPreset.
  std::span<const PropertyRule> OwnProperties;
  amf::amf_int64 DefaultProfile;
  std::span<const ProfileNames> Profiles;  // those encoded here; the last stands for any other
  PresetValues Presets;
  RateControlValues RateControls;
  bool HasTier;                 // H.265's main and high tier
  const char* SoftwareEncoder;  // libavcodec's encoder on the CPU
  const char* ParamsOption;     // its option taking the library's own parameters
  LibraryParams Params;
  const char* VaapiEncoder;  // libavcodec's encoder through VA
  // Its "sei" without and with HRD enforced; nullptr: it has no "sei" and writes no HRD.
  const char* VaapiSei;
  const char* VaapiSeiHrd;
  const char* ThreadName;  // of the encode worker, at most 15 characters
  NalTypes Nal;

  const ProfileNames& ProfileOf(amf::amf_int64 amfProfile) const;
};

const CodecDescription& DescriptionOf(Codec codec);
const CodecNames& NamesOf(Codec codec);

// The component id's codec; false for an id of no encoder here.
bool CodecFromComponentId(const wchar_t* id, Codec* codec);

}  // namespace corvantis::amfrt
