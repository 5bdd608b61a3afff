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
  amf::amf_int64 DefaultProfile;
  PresetValues Presets;
  RateControlValues RateControls;
  const char* SoftwareEncoder;  // libavcodec's encoder on the CPU
  const char* ParamsOption;     // its option taking the library's own parameters
  const char* VaapiEncoder;     // libavcodec's encoder through VA
  int (*VaProfile)(amf::amf_int64 amfProfile);
  const char* ThreadName;  // of the encode worker, at most 15 characters
  NalTypes Nal;
};

const CodecDescription& DescriptionOf(Codec codec);
const CodecNames& NamesOf(Codec codec);

// The component id's codec; false for an id of no encoder here.
bool CodecFromComponentId(const wchar_t* id, Codec* codec);

}  // namespace corvantis::amfrt
