#include "amfrt/codec_exchange.h"

#include <cerrno>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
}

namespace corvantis::amfrt {

AMF_RESULT SendPicture(AVCodecContext* context, AVFrame* picture, std::int64_t frameIndex,
                       AVPacket* packet, CodecExchange& exchange, PacketSink& sink) {
  picture->pts = frameIndex;
  picture->pict_type = AV_PICTURE_TYPE_NONE;
  int sent = avcodec_send_frame(context, picture);
  if (sent == AVERROR(EAGAIN)) {
    if (const AMF_RESULT r = ReceivePackets(context, packet, exchange, sink); r != AMF_OK) return r;
    sent = avcodec_send_frame(context, picture);
  }
  if (sent < 0) return exchange.CallFailed("avcodec_send_frame", sent);
  return ReceivePackets(context, packet, exchange, sink);
}

AMF_RESULT SendEndOfStream(AVCodecContext* context, AVPacket* packet, CodecExchange& exchange,
                           PacketSink& sink) {
  const int sent = avcodec_send_frame(context, nullptr);
  if (sent < 0 && sent != AVERROR_EOF) return exchange.CallFailed("avcodec_send_frame", sent);
  return ReceivePackets(context, packet, exchange, sink);
}

AMF_RESULT ReceivePackets(AVCodecContext* context, AVPacket* packet, CodecExchange& exchange,
                          PacketSink& sink) {
  for (;;) {
    const int received = avcodec_receive_packet(context, packet);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return AMF_OK;
    if (received < 0) return exchange.CallFailed("avcodec_receive_packet", received);
    const AMF_RESULT result = exchange.HandOn(*packet, sink);
    av_packet_unref(packet);
    if (result != AMF_OK) return result;
  }
}

}  // namespace corvantis::amfrt
