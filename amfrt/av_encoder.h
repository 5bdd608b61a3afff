#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "amf/api/result.h"
#include "amfrt/encoder_options.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace amfrt {

// One packet the encoder produced.
struct EncodedPacket {
  std::span<const std::uint8_t> data;
  std::int64_t frameIndex;  // the index given to Encode
  int pictureType;          // AVPictureType; 0 when the encoder did not say
};

class PacketSink {
 public:
  virtual AMF_RESULT OnPacket(const EncodedPacket& packet) = 0;

 protected:
  ~PacketSink() = default;
};

// libx264 / libx265 behind libavcodec, fed with BGRA pictures converted to YUV 4:2:0 (BT.601,
// limited range). Not thread-safe; one thread encodes at a time.
class AvEncoder {
 public:
  // AMF_ENCODER_NOT_PRESENT when libavcodec lacks the codec, AMF_INVALID_RESOLUTION for a size it
  // cannot take, AMF_FAIL otherwise. Failures are traced.
  static AMF_RESULT Open(const EncoderSettings& settings, int width, int height, std::unique_ptr<AvEncoder>* out);
  ~AvEncoder();

  // The stream's parameter sets, Annex-B.
  std::span<const std::uint8_t> ParameterSets() const { return parameterSets_; }
  // One line saying what was opened, for the trace.
  const std::wstring& Summary() const { return summary_; }

  // Converts and encodes one picture; every packet that became ready goes to `sink`.
  AMF_RESULT Encode(const std::uint8_t* bgra, int rowPitch, std::int64_t frameIndex, PacketSink& sink);
  // Encodes a yuv420p picture of the opened size as it is, without conversion (what the library
  // alone costs). Sets its pts and picture type; libavcodec takes a reference when the picture is
  // reference-counted and copies it otherwise.
  AMF_RESULT EncodePicture(AVFrame* picture, std::int64_t frameIndex, PacketSink& sink);
  // Ends the stream and hands out the packets still inside the encoder.
  AMF_RESULT Flush(PacketSink& sink);

 private:
  struct ContextDeleter { void operator()(AVCodecContext* c) const; };
  struct FrameDeleter { void operator()(AVFrame* f) const; };
  struct PacketDeleter { void operator()(AVPacket* p) const; };

  AvEncoder() = default;
  AMF_RESULT ReceivePackets(PacketSink& sink);

  Codec codec_ = Codec::Avc;
  int width_ = 0;
  int height_ = 0;
  std::unique_ptr<AVCodecContext, ContextDeleter> context_;
  std::unique_ptr<AVFrame, FrameDeleter> frame_;
  std::unique_ptr<AVPacket, PacketDeleter> packet_;
  std::vector<std::uint8_t> parameterSets_;
  std::wstring summary_;
};

// Largest width or height, and largest picture, the runtime encodes.
inline constexpr int kMaxDimension = 8192;
inline constexpr std::int64_t kMaxPictureSize = 8192LL * 4320;
inline constexpr int kMinDimension = 16;

// Whether the encoders can take pictures of this size (even, within the limits above).
bool IsEncodableSize(int width, int height);

}  // namespace amfrt
