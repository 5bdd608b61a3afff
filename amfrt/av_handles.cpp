#include "amfrt/av_handles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}

namespace corvantis::amfrt {

void AvFree::operator()(AVBufferRef* buffer) const { av_buffer_unref(&buffer); }
void AvFree::operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
void AvFree::operator()(AVDictionary* dictionary) const { av_dict_free(&dictionary); }
void AvFree::operator()(AVFrame* frame) const { av_frame_free(&frame); }
void AvFree::operator()(AVPacket* packet) const { av_packet_free(&packet); }

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace corvantis::amfrt
