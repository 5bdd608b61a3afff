#pragma once
#include <cstdint>

#include "amf/api/result.h"
#include "amfrt/frame_encoder.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace corvantis::amfrt {

// What an encoder makes of its exchange with libavcodec: how a failed call is reported and what
// a packet becomes.
class CodecExchange {
 public:
  // `call` gave the libav error `code`: traced, and the AMF result for it.
  virtual AMF_RESULT CallFailed(const char* call, int code) = 0;
  // One packet that became ready, to `sink`; the packet is unreferenced afterwards.
  virtual AMF_RESULT HandOn(const AVPacket& packet, PacketSink& sink) = 0;

 protected:
  ~CodecExchange() = default;
};

// Sends `picture` as picture `frameIndex` (its type left to the encoder) to the opened `context`;
// where the encoder's queue is full, what is ready goes to `sink` first and the picture is sent
// once more. Then what became ready goes to `sink`.
AMF_RESULT SendPicture(AVCodecContext* context, AVFrame* picture, std::int64_t frameIndex,
                       AVPacket* packet, CodecExchange& exchange, PacketSink& sink);
// Ends the stream (a stream already ended is no failure) and hands out what is still inside.
AMF_RESULT SendEndOfStream(AVCodecContext* context, AVPacket* packet, CodecExchange& exchange,
                           PacketSink& sink);
// Hands every packet that is ready to `sink`, through `packet`.
AMF_RESULT ReceivePackets(AVCodecContext* context, AVPacket* packet, CodecExchange& exchange,
                          PacketSink& sink);

}  // namespace corvantis::amfrt
