#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "amf/api/result.h"
#include "amfrt/av_handles.h"
#include "amfrt/codec_exchange.h"
#include "amfrt/conversion_ahead.h"
#include "amfrt/encoder_options.h"
#include "amfrt/frame_encoder.h"
#include "amfrt/split_conversion.h"

struct AVCodec;
struct AVCodecContext;
struct AVDictionary;
struct AVFrame;
struct AVPacket;

namespace corvantis::amfrt {

// libx264 / libx265 behind libavcodec, fed with BGRA pictures converted to YUV 4:2:0 (BT.601,
// limited range). Not thread-safe; one thread encodes at a time.
class AvEncoder final : public FrameEncoder, private PictureSlots, private CodecExchange {
 public:
  // AMF_ENCODER_NOT_PRESENT when libavcodec lacks the codec, AMF_INVALID_RESOLUTION for a size it
  // cannot take, AMF_FAIL otherwise. Failures are traced.
  static AMF_RESULT Open(const EncoderSettings& settings, int width, int height,
                         std::unique_ptr<AvEncoder>* out);
  ~AvEncoder() override;

  std::span<const std::uint8_t> ParameterSets() const override { return parameterSets_; }
  const std::wstring& Summary() const override { return summary_; }
  const std::wstring& Library() const override { return library_; }
  // Converts and encodes one picture; converts `next` on a thread of its own meanwhile, so that
  // a queue of pictures costs the encoding alone where a core is free for the conversion.
  AMF_RESULT Encode(BgraView picture, std::int64_t frameIndex, BgraView next,
                    PacketSink& sink) override;
  // Encodes a yuv420p picture of the opened size as it is, without conversion (what the library
  // alone costs). Sets its pts and picture type; libavcodec takes a reference when the picture is
  // reference-counted and copies it otherwise.
  AMF_RESULT EncodePicture(AVFrame* picture, std::int64_t frameIndex, PacketSink& sink);
  AMF_RESULT Flush(PacketSink& sink) override;

 private:
  AvEncoder() = default;
  // The steps of Open after the encoder is made, in order; failures are traced.
  AMF_RESULT OpenCodec(const AVCodec* codec, const EncoderSettings& settings,
                       const EncoderOptions& options);
  AMF_RESULT ShapePictures();
  AMF_RESULT CallFailed(const char* call, int code) override;
  AMF_RESULT HandOn(const AVPacket& packet, PacketSink& sink) override;
  // Picture `slot` allocated (the second one only once needed) and writable; the traced failure
  // when it cannot be.
  AMF_RESULT Prepare(int slot) override;
  AMF_RESULT ConvertNow(BgraView picture, int slot) override;
  ConversionJob JobFor(BgraView picture, int slot) const override;
  AMF_RESULT EncodeSlot(int slot, std::int64_t frameIndex, PacketSink& sink) override;
  I420Planes PlanesOf(int slot) const;

  Codec codec_ = Codec::Avc;
  int width_ = 0;
  int height_ = 0;
  AvCodecContextPtr context_;
  AvFramePtr frames_[2];
  AvPacketPtr packet_;
  SplitConverter converter_;  // pictures not converted ahead
  ConversionAhead ahead_;
  std::vector<std::uint8_t> parameterSets_;
  std::wstring summary_;
  std::wstring library_;
};

// Largest width or height, and largest picture, the runtime encodes.
inline constexpr int kMaxDimension = 8192;
inline constexpr std::int64_t kMaxPictureSize = 8192LL * 4320;
inline constexpr int kMinDimension = 16;

// AMF_OK where the encoders can take pictures of this size (even, within the limits above), else
// AMF_INVALID_RESOLUTION, traced in `scope`.
AMF_RESULT CheckEncodableSize(const wchar_t* scope, int width, int height);

// What both encoders set alike before opening: the size, the rate, global headers and the
// colours the conversions give.
void SetStreamFields(AVCodecContext* c, const EncoderSettings& settings, int width, int height);
// Traces each option left in `unused` after avcodec_open2: one the encoder did not take.
void TraceUnusedOptions(const wchar_t* scope, const char* codecName, const AVDictionary* unused);
// The parameter sets of the opened context's extradata, Annex-B; empty when it has none.
std::vector<std::uint8_t> GlobalParameterSets(Codec codec, const AVCodecContext* c);

}  // namespace corvantis::amfrt
