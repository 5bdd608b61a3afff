#pragma once
#include <cstdint>
#include <string>

#include "amfrt/encoder_settings.h"

namespace corvantis::amfrt {

// How an encoder component's settings are handed to libx264 / libx265 through libavcodec.
struct EncoderOptions {
  const char* CodecName = nullptr;  // "libx264" or "libx265"
  std::string Preset;
  std::string Tune;  // empty: none
  std::string Profile;
  std::string Params;  // "key=value:..." for the x264-params / x265-params option
  std::int64_t BitRate = 0;
  std::int64_t MaxRate = 0;
  int BufferSize = 0;  // VBV size in bits
  int GopSize = -1;    // -1: no periodic IDR
  int MaxBFrames = 0;
};

EncoderOptions BuildEncoderOptions(const EncoderSettings& settings);

// The libavcodec option holding `params`: "x264-params" or "x265-params".
const char* ParamsOptionName(Codec codec);

}  // namespace corvantis::amfrt
