#include "scenarios/codec_profile.h"

#include "amf/api/encoder_properties.h"
#include "amf/encoder_config.h"

namespace corvantis {

const CodecProfile& AvcProfile() {
  static std::once_flag reported;
  static const CodecProfile profile{L"AVC",
                                    &ConfigureAvcEncoder,
                                    {AMF_VIDEO_ENCODER_INSERT_AUD,
                                     {AMF_VIDEO_ENCODER_INSERT_SPS, AMF_VIDEO_ENCODER_INSERT_PPS},
                                     AMF_VIDEO_ENCODER_OUTPUT_DATA_TYPE},
                                    L".h264",
                                    &reported};
  return profile;
}

const CodecProfile& HevcProfile() {
  static std::once_flag reported;
  static const CodecProfile profile{L"HEVC",
                                    &ConfigureHevcEncoder,
                                    {AMF_VIDEO_ENCODER_HEVC_INSERT_AUD,
                                     {AMF_VIDEO_ENCODER_HEVC_INSERT_HEADER, nullptr},
                                     AMF_VIDEO_ENCODER_HEVC_OUTPUT_DATA_TYPE},
                                    L".h265",
                                    &reported};
  return profile;
}

}  // namespace corvantis
