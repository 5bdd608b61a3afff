#pragma once
#include <cstdint>
#include <string>

#include "amfrt/encoder_settings.h"

namespace corvantis::amfrt {

// How an encoder component's settings are handed to libx264 / libx265 through libavcodec.
struct EncoderOptions {
  const char* codecName = nullptr;  // "libx264" or "libx265"
  std::string preset;
  std::string tune;     // empty: none
  std::string profile;
  std::string params;   // "key=value:..." for the x264-params / x265-params option
  std::int64_t bitRate = 0;
  std::int64_t maxRate = 0;
  int bufferSize = 0;   // VBV size in bits
  int gopSize = -1;     // -1: no periodic IDR
  int maxBFrames = 0;
};

EncoderOptions BuildEncoderOptions(const EncoderSettings& settings);

// The libavcodec option holding `params`: "x264-params" or "x265-params".
const char* ParamsOptionName(Codec codec);

}  // namespace corvantis::amfrt
