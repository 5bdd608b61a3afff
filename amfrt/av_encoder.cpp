#include "amfrt/av_encoder.h"
#include "amfrt/encoder_library.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include "amfrt/annexb.h"
#include "amfrt/frame_conversion.h"
#include "amfrt/trace.h"
#include "platform/utf.h"

namespace corvantis::amfrt {
namespace {

constexpr wchar_t kLibavScope[] = L"libavcodec";

// The first error line libav logged on this thread since it was last taken: the only place where
// libavcodec names the VA call that failed and its status; the lines after it are its echoes.
thread_local std::string t_firstError;

// libavcodec (and libx264 through it) would otherwise print to stderr, into the program's console.
void RouteLibavLog(void* object, int level, const char* format, std::va_list args) {
  if (level > AV_LOG_INFO) return;
  if (level <= AV_LOG_ERROR && t_firstError.empty()) {
    char line[512];
    std::va_list copy;
    va_copy(copy, args);
    std::vsnprintf(line, sizeof line, format, copy);
    va_end(copy);
    t_firstError = line;
  }
  const amf::amf_int32 traceLevel = level <= AV_LOG_ERROR     ? amf::AMF_TRACE_ERROR
                                    : level <= AV_LOG_WARNING ? amf::AMF_TRACE_WARNING
                                                              : amf::AMF_TRACE_DEBUG;
  if (!Trace::Instance().Wants(traceLevel)) return;
  char line[1024];
  int printPrefix = 1;
  av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
  std::size_t length = std::strlen(line);
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
    line[--length] = '\0';
  if (length == 0) return;
  TraceLine(traceLevel, kLibavScope, L"%ls", Utf8ToWide(line).c_str());
}

// Restores libavutil's own logging when the library is unloaded, so that no callback points into
// it.
struct LogRoute {
  LogRoute() { av_log_set_callback(RouteLibavLog); }
  ~LogRoute() { av_log_set_callback(av_log_default_callback); }
  LogRoute(const LogRoute&) = delete;
  LogRoute& operator=(const LogRoute&) = delete;
};

AMF_RESULT Failed(const wchar_t* scope, const char* call, int code) {
  TraceLine(amf::AMF_TRACE_ERROR, scope, L"%s failed: %ls", call,
            Utf8ToWide(AvErrorText(code)).c_str());
  return code == AVERROR(ENOMEM) ? AMF_OUT_OF_MEMORY : AMF_FAIL;
}

using Dictionary = AvDictionaryPtr;

void SetOption(Dictionary& options, const char* key, const std::string& value) {
  if (value.empty()) return;
  AVDictionary* raw = options.release();
  av_dict_set(&raw, key, value.c_str(), 0);
  options.reset(raw);
}

}  // namespace

std::string TakeLibavError() { return std::exchange(t_firstError, std::string()); }

void InstallLibavLogRoute() {
  Trace::Instance();  // made first, so that it is destroyed after the route
  static LogRoute route;
}

AvEncoder::~AvEncoder() = default;

AMF_RESULT CheckEncodableSize(const wchar_t* scope, int width, int height) {
  if (width >= kMinDimension && height >= kMinDimension && width <= kMaxDimension &&
      height <= kMaxDimension && width % 2 == 0 && height % 2 == 0 &&
      static_cast<std::int64_t>(width) * height <= kMaxPictureSize)
    return AMF_OK;
  TraceLine(amf::AMF_TRACE_ERROR, scope,
            L"Cannot encode %dx%d: sizes are even, %d to %d a side, at most %lld pixels", width,
            height, kMinDimension, kMaxDimension, static_cast<long long>(kMaxPictureSize));
  return AMF_INVALID_RESOLUTION;
}

void SetStreamFields(AVCodecContext* c, const EncoderSettings& settings, int width, int height) {
  c->width = width;
  c->height = height;
  c->framerate = AVRational{static_cast<int>(settings.FrameRate.num),
                            static_cast<int>(settings.FrameRate.den)};
  c->time_base = AVRational{c->framerate.den, c->framerate.num};
  c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // parameter sets once, in extradata
  // The conversion gives BT.601 limited range; the stream says so, for decoders to show the drawn
  // colours.
  c->color_range = AVCOL_RANGE_MPEG;
  c->colorspace = AVCOL_SPC_SMPTE170M;
  c->color_primaries = AVCOL_PRI_SMPTE170M;
  c->color_trc = AVCOL_TRC_SMPTE170M;
}

void TraceUnusedOptions(const wchar_t* scope, const char* codecName, const AVDictionary* unused) {
  for (const AVDictionaryEntry* entry = av_dict_get(unused, "", nullptr, AV_DICT_IGNORE_SUFFIX);
       entry != nullptr; entry = av_dict_get(unused, "", entry, AV_DICT_IGNORE_SUFFIX))
    TraceLine(amf::AMF_TRACE_WARNING, scope, L"%s ignored option %s", codecName, entry->key);
}

std::vector<std::uint8_t> GlobalParameterSets(Codec codec, const AVCodecContext* c) {
  return ExtractParameterSets(
      codec,
      std::span<const std::uint8_t>(c->extradata, c->extradata_size > 0 ? c->extradata_size : 0));
}

AMF_RESULT AvEncoder::Open(const EncoderSettings& settings, int width, int height,
                           std::unique_ptr<AvEncoder>* out) {
  InstallLibavLogRoute();
  out->reset();
  const wchar_t* scope = NamesOf(settings.Codec).ComponentId;
  if (const AMF_RESULT r = CheckEncodableSize(scope, width, height); r != AMF_OK) return r;
  const EncoderOptions options = BuildEncoderOptions(settings);
  const AVCodec* codec = avcodec_find_encoder_by_name(options.CodecName);
  if (codec == nullptr) {
    TraceLine(amf::AMF_TRACE_ERROR, scope, L"libavcodec has no %s encoder", options.CodecName);
    return AMF_ENCODER_NOT_PRESENT;
  }

  std::unique_ptr<AvEncoder> encoder(new (std::nothrow) AvEncoder());
  if (encoder == nullptr) return AMF_OUT_OF_MEMORY;
  encoder->codec_ = settings.Codec;
  encoder->width_ = width;
  encoder->height_ = height;
  if (const AMF_RESULT r = encoder->OpenCodec(codec, settings, options); r != AMF_OK) return r;
  if (const AMF_RESULT r = encoder->ShapePictures(); r != AMF_OK) return r;

  wchar_t summary[1024];
  std::swprintf(
      summary, std::size(summary),
      L"%s %dx%d BGRA to yuv420p at %u/%u fps: profile %s, preset %s, tune %s, bitrate %lld, "
      L"maxrate %lld, vbv %d, %s",
      options.CodecName, width, height, settings.FrameRate.num, settings.FrameRate.den,
      options.Profile.c_str(), options.Preset.c_str(),
      options.Tune.empty() ? "none" : options.Tune.c_str(), static_cast<long long>(options.BitRate),
      static_cast<long long>(options.MaxRate), options.BufferSize, options.Params.c_str());
  encoder->summary_ = summary;
  *out = std::move(encoder);
  return AMF_OK;
}

AMF_RESULT AvEncoder::OpenCodec(const AVCodec* codec, const EncoderSettings& settings,
                                const EncoderOptions& options) {
  const wchar_t* scope = NamesOf(codec_).ComponentId;
  context_.reset(avcodec_alloc_context3(codec));
  for (auto& frame : frames_) frame.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!context_ || !frames_[0] || !frames_[1] || !packet_) return AMF_OUT_OF_MEMORY;

  AVCodecContext* c = context_.get();
  SetStreamFields(c, settings, width_, height_);
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->gop_size = options.GopSize;
  c->max_b_frames = options.MaxBFrames;
  c->bit_rate = options.BitRate;
  c->rc_max_rate = options.MaxRate;
  c->rc_buffer_size = options.BufferSize;
  c->thread_count = 0;
  if (settings.LowLatency) c->thread_type = FF_THREAD_SLICE;

  Dictionary dictionary;
  SetOption(dictionary, "preset", options.Preset);
  SetOption(dictionary, "tune", options.Tune);
  SetOption(dictionary, "profile", options.Profile);
  SetOption(dictionary, ParamsOptionName(settings.Codec), options.Params);
  AVDictionary* raw = dictionary.release();
  const int opened = avcodec_open2(c, codec, &raw);
  dictionary.reset(raw);
  if (opened < 0) return Failed(scope, "avcodec_open2", opened);
  library_ = DescribeEncoderLibrary(options.CodecName);
  TraceUnusedOptions(scope, options.CodecName, dictionary.get());

  parameterSets_ = GlobalParameterSets(settings.Codec, c);
  if (parameterSets_.empty()) {
    TraceLine(amf::AMF_TRACE_ERROR, scope, L"%s gave no parameter sets", options.CodecName);
    return AMF_FAIL;
  }
  return AMF_OK;
}

AMF_RESULT AvEncoder::ShapePictures() {
  for (auto& frame : frames_) {
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width_;
    frame->height = height_;
  }
  if (const int r = av_frame_get_buffer(frames_[0].get(), 0); r < 0)
    return Failed(NamesOf(codec_).ComponentId, "av_frame_get_buffer", r);
  return AMF_OK;
}

AMF_RESULT AvEncoder::Prepare(int slot) {
  AVFrame* frame = frames_[slot].get();
  const wchar_t* scope = NamesOf(codec_).ComponentId;
  if (frame->buf[0] == nullptr) {
    if (const int r = av_frame_get_buffer(frame, 0); r < 0)
      return Failed(scope, "av_frame_get_buffer", r);
  }
  // Frees nothing and allocates nothing unless the encoder still holds the picture.
  if (const int r = av_frame_make_writable(frame); r < 0)
    return Failed(scope, "av_frame_make_writable", r);
  return AMF_OK;
}

I420Planes AvEncoder::PlanesOf(int slot) const {
  const AVFrame* frame = frames_[slot].get();
  return I420Planes{frame->data[0],     frame->linesize[0], frame->data[1],
                    frame->linesize[1], frame->data[2],     frame->linesize[2]};
}

// Straight into the frame libavcodec hands on: the encoder's own copy is the only other one.
AMF_RESULT AvEncoder::ConvertNow(BgraView picture, int slot) {
  if (converter_.Convert(picture.Pixels, picture.RowPitch, width_, height_, PlanesOf(slot)))
    return AMF_OK;
  TraceLine(amf::AMF_TRACE_ERROR, NamesOf(codec_).ComponentId,
            L"Cannot convert a %dx%d picture of pitch %d", width_, height_, picture.RowPitch);
  return AMF_INVALID_ARG;
}

ConversionJob AvEncoder::JobFor(BgraView picture, int slot) const {
  return ConversionJob{picture.Pixels, picture.RowPitch, width_, height_, PlanesOf(slot)};
}

AMF_RESULT AvEncoder::EncodeSlot(int slot, std::int64_t frameIndex, PacketSink& sink) {
  return EncodePicture(frames_[slot].get(), frameIndex, sink);
}

AMF_RESULT AvEncoder::Encode(BgraView picture, std::int64_t frameIndex, BgraView next,
                             PacketSink& sink) {
  return ahead_.Encode(picture, frameIndex, next, *this, sink);
}

AMF_RESULT AvEncoder::EncodePicture(AVFrame* picture, std::int64_t frameIndex, PacketSink& sink) {
  return SendPicture(context_.get(), picture, frameIndex, packet_.get(), *this, sink);
}

AMF_RESULT AvEncoder::Flush(PacketSink& sink) {
  return SendEndOfStream(context_.get(), packet_.get(), *this, sink);
}

AMF_RESULT AvEncoder::CallFailed(const char* call, int code) {
  return Failed(NamesOf(codec_).ComponentId, call, code);
}

AMF_RESULT AvEncoder::HandOn(const AVPacket& packet, PacketSink& sink) {
  std::size_t statsSize = 0;
  const std::uint8_t* stats =
      av_packet_get_side_data(&packet, AV_PKT_DATA_QUALITY_STATS, &statsSize);
  return sink.OnPacket(EncodedPacket{
      std::span<const std::uint8_t>(packet.data, static_cast<std::size_t>(packet.size)), packet.pts,
      stats != nullptr && statsSize >= 5 ? stats[4] : 0});
}

}  // namespace corvantis::amfrt
