#pragma once
#include <memory>
#include <string>

struct AVBufferRef;
struct AVCodecContext;
struct AVDictionary;
struct AVFrame;
struct AVPacket;

namespace corvantis::amfrt {

// libavcodec's objects, each freed by the library's own function.
struct AvFree {
  void operator()(AVBufferRef* buffer) const;
  void operator()(AVCodecContext* context) const;
  void operator()(AVDictionary* dictionary) const;
  void operator()(AVFrame* frame) const;
  void operator()(AVPacket* packet) const;
};

using AvBufferPtr = std::unique_ptr<AVBufferRef, AvFree>;
using AvCodecContextPtr = std::unique_ptr<AVCodecContext, AvFree>;
using AvDictionaryPtr = std::unique_ptr<AVDictionary, AvFree>;
using AvFramePtr = std::unique_ptr<AVFrame, AvFree>;
using AvPacketPtr = std::unique_ptr<AVPacket, AvFree>;

// libavutil's text for an AVERROR code.
std::string AvErrorText(int code);

}  // namespace corvantis::amfrt
