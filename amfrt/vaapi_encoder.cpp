#include "amfrt/vaapi_encoder.h"
#include "amfrt/encoder_library.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/hwcontext.h>
#include <libavutil/hwcontext_vaapi.h>
#include <libavutil/opt.h>
}

#include "amfrt/annexb.h"
#include "amfrt/av_encoder.h"
#include "amfrt/frame_conversion.h"
#include "amfrt/trace.h"
#include "amfrt/vaapi_options.h"
#include "amfrt/vaapi_packets.h"
#include "platform/utf.h"
#include "platform/va_probe.h"
#include "platform/write_all.h"

namespace corvantis::amfrt {
namespace {

constexpr wchar_t kLibvaScope[] = L"libva";

std::int64_t NanosecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              start)
      .count();
}

void TraceLibva(amf::amf_int32 level, const char* message) {
  if (!Trace::Instance().Wants(level)) return;
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (!text.empty()) TraceLine(level, kLibvaScope, L"%ls", Utf8ToWide(text).c_str());
}
void TraceLibvaError(void*, const char* message) { TraceLibva(amf::AMF_TRACE_ERROR, message); }
void TraceLibvaInfo(void*, const char* message) { TraceLibva(amf::AMF_TRACE_DEBUG, message); }

AMF_RESULT AvFailure(const char* call, int code, AMF_RESULT otherwise, std::string* failure) {
  *failure = std::string(call) + ": " + AvErrorText(code);
  return code == AVERROR(ENOMEM) ? AMF_OUT_OF_MEMORY : otherwise;
}

AMF_RESULT OutOfMemory(std::string* failure) {
  *failure = "out of memory";
  return AMF_OUT_OF_MEMORY;
}

VASurfaceID SurfaceOf(const AVFrame* frame) {
  return static_cast<VASurfaceID>(reinterpret_cast<std::uintptr_t>(frame->data[3]));
}

AVBufferRef* NewFramesContext(AVBufferRef* device, AVPixelFormat format, int width, int height,
                              int* error) {
  AVBufferRef* frames = av_hwframe_ctx_alloc(device);
  if (frames == nullptr) {
    *error = AVERROR(ENOMEM);
    return nullptr;
  }
  auto* context = reinterpret_cast<AVHWFramesContext*>(frames->data);
  context->format = AV_PIX_FMT_VAAPI;
  context->sw_format = format;
  context->width = width;
  context->height = height;
  context->initial_pool_size = 0;  // surfaces are made as the encoder's queue needs them
  *error = av_hwframe_ctx_init(frames);
  if (*error < 0) av_buffer_unref(&frames);
  return frames;
}

void SetOption(AVDictionary** options, const char* key, const std::string& value) {
  av_dict_set(options, key, value.c_str(), 0);
}

void WriteStderrLine(std::string line) {
  line += '\n';
  WriteAll(STDERR_FILENO, std::as_bytes(std::span(line)));
}

// The node and its drivers, the failed step and the AMF result, in one line for the trace and
// for stderr: a hardware adapter that cannot encode must not pass unnoticed.
void ReportFailure(const wchar_t* scope, const std::string& nodePath, const std::string& vendor,
                   const std::string& failure, AMF_RESULT result) {
  const std::string driver = DrmDriverName(nodePath);
  std::string line = "amfrt: " + WideToUtf8Lossy(scope) + " cannot encode on " + nodePath +
                     " (kernel driver " + (driver.empty() ? std::string("none") : driver);
  if (!vendor.empty()) line += ", VA driver \"" + vendor + "\"";
  line += "): " + failure + "; Init gives " + WideToUtf8Lossy(ResultName(result));
  TraceLine(amf::AMF_TRACE_ERROR, scope, L"%ls", Utf8ToWide(line).c_str());
  WriteStderrLine(std::move(line));
}

// "vaEndPicture: operation failed" from libav's error line, which names the step and the status
// text (FFmpeg 5.1 libavcodec/vaapi_encode.c, libavutil/hwcontext_vaapi.c); empty for a line that
// names no VA call.
std::string VaCallOfLibavError(const std::string& line) {
  static constexpr std::pair<const char*, const char*> kSteps[] = {
      {"Failed to create parameter buffer", "vaCreateBuffer"},
      {"Failed to create data buffer", "vaCreateBuffer"},
      {"Failed to create bitstream output buffer", "vaCreateBuffer"},
      {"Failed to begin picture encode issue", "vaBeginPicture"},
      {"Failed to upload encode parameters", "vaRenderPicture"},
      {"Failed to end picture encode issue", "vaEndPicture"},
      {"Failed to sync to output buffer completion", "vaSyncBuffer"},
      {"Failed to sync to picture completion", "vaSyncSurface"},
      {"Failed to map output buffers", "vaMapBuffer"},
      {"Failed to unmap output buffers", "vaUnmapBuffer"},
      {"Failed to create surface", "vaCreateSurfaces"},
      {"Failed to sync surface", "vaSyncSurface"},
      {"Failed to derive image", "vaDeriveImage"},
      {"Failed to create image", "vaCreateImage"},
      {"Failed to read image", "vaGetImage"},
      {"Failed to map image", "vaMapBuffer"},
      {"Failed to unmap image", "vaUnmapBuffer"},
      {"Failed to write image", "vaPutImage"},
  };
  for (const auto& [step, call] : kSteps) {
    if (line.find(step) == std::string::npos) continue;
    // The status text is the last parenthesis: "...: 1 (operation failed).".
    const std::size_t close = line.rfind(')');
    const std::size_t open = close == std::string::npos ? close : line.rfind('(', close);
    if (open == std::string::npos) return call;
    return std::string(call) + ": " + line.substr(open + 1, close - open - 1);
  }
  return {};
}

}  // namespace

VaapiEncoder::~VaapiEncoder() = default;

AMF_RESULT VaapiEncoder::Open(const EncoderSettings& settings, ID3D11Device* device, int width,
                              int height, std::unique_ptr<FrameEncoder>* out) {
  InstallLibavLogRoute();
  out->reset();
  const wchar_t* scope = NamesOf(settings.Codec).ComponentId;
  if (const AMF_RESULT r = CheckEncodableSize(scope, width, height); r != AMF_OK) return r;
  std::unique_ptr<VaapiEncoder> encoder(new (std::nothrow) VaapiEncoder(settings.Codec));
  if (encoder == nullptr) return AMF_OUT_OF_MEMORY;
  std::string failure;
  AMF_RESULT result;
  try {
    result = encoder->OpenOn(settings, device, width, height, &failure);
  } catch (const std::bad_alloc&) {
    result = AMF_OUT_OF_MEMORY;
    failure = "out of memory";
  }
  if (result != AMF_OK) {
    ReportFailure(scope, device->RenderNodePath(),
                  encoder->display_ != nullptr ? encoder->display_->VendorString() : std::string(),
                  failure, result);
    return result;
  }
  *out = std::move(encoder);
  return AMF_OK;
}

AMF_RESULT VaapiEncoder::OpenOn(const EncoderSettings& settings, ID3D11Device* device, int width,
                                int height, std::string* failure) {
  const wchar_t* scope = NamesOf(settings.Codec).ComponentId;
  const std::string nodePath = device->RenderNodePath();
  width_ = width;
  height_ = height;
  nodePath_ = nodePath;
  d3dDevice_ = com_ptr<ID3D11Device>::copy_from(device);
  display_ = device->VideoDisplay({TraceLibvaError, TraceLibvaInfo, nullptr}, failure);
  if (display_ == nullptr) return AMF_NO_DEVICE;

  const int vaProfile = VaapiProfileOf(settings);
  const VaapiCapabilities caps = ProbeVaapi(display_->Handle(), static_cast<VAProfile>(vaProfile));
  const VaapiOptions options =
      BuildVaapiOptions(settings, caps, width, height, VaapiDriverOf(display_->VendorString()),
                        display_->VendorString());
  if (options.Result != AMF_OK) {
    *failure = options.Failure;
    return options.Result;
  }
  for (const std::string& note : options.NotHonoured)
    TraceLine(amf::AMF_TRACE_WARNING, scope, L"Not honoured on %s: %s", nodePath.c_str(),
              note.c_str());

  const AVCodec* codec = avcodec_find_encoder_by_name(options.CodecName);
  if (codec == nullptr) {
    *failure = std::string("libavcodec has no ") + options.CodecName + " encoder";
    return AMF_ENCODER_NOT_PRESENT;
  }
  if (const AMF_RESULT r = OpenDevice(failure); r != AMF_OK) return r;
  std::string conversion;
  if (const AMF_RESULT r = SetUpConversion(options.GpuConversion, scope, &conversion, failure);
      r != AMF_OK)
    return r;
  if (const AMF_RESULT r = OpenCodec(codec, settings, options, failure); r != AMF_OK) return r;

  parameterSets_ = GlobalParameterSets(settings.Codec, context_.get());
  if (parameterSets_.empty())
    TraceLine(amf::AMF_TRACE_WARNING, scope,
              L"%s gave no global headers; parameter sets come with the first IDR",
              options.CodecName);
  Describe(settings, options, vaProfile, caps.LowPower.Present, nodePath, conversion);
  TakeLibavError();  // what opening logged is not a clip's failure
  return AMF_OK;
}

AMF_RESULT VaapiEncoder::OpenDevice(std::string* failure) {
  device_.reset(av_hwdevice_ctx_alloc(AV_HWDEVICE_TYPE_VAAPI));
  if (!device_) return OutOfMemory(failure);
  auto* deviceContext = reinterpret_cast<AVHWDeviceContext*>(device_->data);
  static_cast<AVVAAPIDeviceContext*>(deviceContext->hwctx)->display = display_->Handle();
  if (const int r = av_hwdevice_ctx_init(device_.get()); r < 0)
    return AvFailure("av_hwdevice_ctx_init", r, AMF_NO_DEVICE, failure);

  int error = 0;
  nv12Frames_.reset(NewFramesContext(device_.get(), AV_PIX_FMT_NV12, width_, height_, &error));
  if (!nv12Frames_) return AvFailure("NV12 surfaces", error, AMF_NOT_SUPPORTED, failure);
  return AMF_OK;
}

AMF_RESULT VaapiEncoder::SetUpConversion(bool gpuConversion, const wchar_t* scope,
                                         std::string* conversion, std::string* failure) {
  if (gpuConversion) {
    std::string why;
    int error = 0;
    bgraFrames_.reset(NewFramesContext(device_.get(), AV_PIX_FMT_BGRA, width_, height_, &error));
    if (!bgraFrames_) why = "BGRA surfaces: " + AvErrorText(error);
    if (bgraFrames_) vpp_ = VaapiVpp::Create(display_->Handle(), width_, height_, &why);
    if (vpp_) {
      if (const std::optional<VppColour> colour = FindProcessorColour(&why)) {
        colour_ = *colour;
        *conversion =
            "BGRA uploaded, NV12 by the GPU's video processor (VPP) in " + ColourName(colour_);
        return AMF_OK;
      }
    }
    vpp_.reset();
    bgraFrames_.reset();
    TraceLine(amf::AMF_TRACE_WARNING, scope,
              L"Video processor refused (%s): NV12 conversion on the CPU", why.c_str());
  }
  *conversion =
      gpuConversion
          ? "NV12 by libyuv on the CPU into the mapped surface (the video processor refused)"
          : "NV12 by libyuv on the CPU into the mapped surface (the driver has no video processor "
            "for BGRA)";
  for (int slot = 0; slot < 2; ++slot) {
    cpuSurfaces_[slot].reset(av_frame_alloc());
    cpuMappings_[slot].reset(av_frame_alloc());
    if (!cpuSurfaces_[slot] || !cpuMappings_[slot]) return OutOfMemory(failure);
  }
  return AMF_OK;
}

std::optional<VppColour> VaapiEncoder::FindProcessorColour(std::string* why) {
  AvFramePtr patch(av_frame_alloc());
  AvFramePtr bgra(av_frame_alloc());
  AvFramePtr nv12(av_frame_alloc());
  AvFramePtr readBack(av_frame_alloc());
  if (!patch || !bgra || !nv12 || !readBack) {
    *why = "out of memory";
    return std::nullopt;
  }
  patch->format = AV_PIX_FMT_BGRA;
  readBack->format = AV_PIX_FMT_NV12;
  patch->width = patch->height = readBack->width = readBack->height = kColourPatchSide;
  int r = av_frame_get_buffer(patch.get(), 0);
  if (r >= 0) r = av_frame_get_buffer(readBack.get(), 0);  // else the whole surface comes back
  if (r >= 0) {
    PaintColourPatch(patch->data[0], patch->linesize[0]);
    // The patch fills the corner of surfaces of the clip's size; the rest is not looked at.
    r = av_hwframe_get_buffer(bgraFrames_.get(), bgra.get(), 0);
  }
  if (r >= 0) r = av_hwframe_transfer_data(bgra.get(), patch.get(), 0);
  if (r >= 0) r = av_hwframe_get_buffer(nv12Frames_.get(), nv12.get(), 0);
  if (r < 0) {
    *why = "test picture: " + AvErrorText(r);
    return std::nullopt;
  }
  if (!vpp_->Convert(SurfaceOf(bgra.get()), SurfaceOf(nv12.get()), why)) return std::nullopt;
  if (r = av_hwframe_transfer_data(readBack.get(), nv12.get(), 0); r < 0) {
    *why = "reading the test picture back: " + AvErrorText(r);
    return std::nullopt;
  }
  const std::optional<VppColour> colour = RecogniseColour(readBack->data[0], readBack->linesize[0],
                                                          readBack->data[1], readBack->linesize[1]);
  if (!colour) *why = "it converts the test picture with no known matrix";
  return colour;
}

AMF_RESULT VaapiEncoder::OpenCodec(const AVCodec* codec, const EncoderSettings& settings,
                                   const VaapiOptions& options, std::string* failure) {
  context_.reset(avcodec_alloc_context3(codec));
  bgraPicture_.reset(av_frame_alloc());
  bgraSurface_.reset(av_frame_alloc());
  nv12Surface_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!context_ || !bgraPicture_ || !bgraSurface_ || !nv12Surface_ || !packet_)
    return OutOfMemory(failure);
  bgraPicture_->format = AV_PIX_FMT_BGRA;
  bgraPicture_->width = width_;
  bgraPicture_->height = height_;

  AVCodecContext* c = context_.get();
  SetStreamFields(c, settings, width_, height_);
  if (vpp_) {
    // The stream says what the processor did, where the driver writes tags at all: VCN's SPS has
    // no colour description (radeon_vcn_enc_1_2.c radeon_enc_nalu_sps, vui_info).
    c->color_range = colour_.FullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (colour_.Bt709) {
      c->colorspace = AVCOL_SPC_BT709;
      c->color_primaries = AVCOL_PRI_BT709;
      c->color_trc = AVCOL_TRC_BT709;
    }
  }
  c->pix_fmt = AV_PIX_FMT_VAAPI;
  c->hw_frames_ctx = av_buffer_ref(nv12Frames_.get());
  if (c->hw_frames_ctx == nullptr) return OutOfMemory(failure);
  c->gop_size = options.GopSize;
  c->max_b_frames = options.MaxBFrames;
  c->bit_rate = options.BitRate;
  c->rc_max_rate = options.MaxRate;
  c->rc_buffer_size = options.BufferSize;
  c->compression_level = options.QualityLevel;
  if (options.Level > 0) c->level = options.Level;

  AVDictionary* dictionary = nullptr;
  SetOption(&dictionary, "profile", options.Profile);
  SetOption(&dictionary, "low_power", options.LowPower ? "1" : "0");
  SetOption(&dictionary, "rc_mode", RateControlName(options.RateControl));
  if (options.RateControl == VaapiRateControl::Cqp)
    SetOption(&dictionary, "qp", std::to_string(options.Qp));
  SetOption(&dictionary, "async_depth", std::to_string(options.AsyncDepth));
  SetOption(&dictionary, "idr_interval", "0");
  // The runtime frames every output itself: delimiters only where a frame asks for one.
  SetOption(&dictionary, "aud", "0");
  if (options.Sei != nullptr) SetOption(&dictionary, "sei", options.Sei);
  if (options.Tier >= 0) SetOption(&dictionary, "tier", std::to_string(options.Tier));
  const int opened = avcodec_open2(c, codec, &dictionary);
  TraceUnusedOptions(NamesOf(settings.Codec).ComponentId, options.CodecName, dictionary);
  av_dict_free(&dictionary);
  if (opened < 0) return AvFailure("avcodec_open2", opened, AMF_NOT_SUPPORTED, failure);
  return AMF_OK;
}

void VaapiEncoder::Describe(const EncoderSettings& settings, const VaapiOptions& options,
                            int vaProfile, bool hasLowPower, const std::string& nodePath,
                            const std::string& conversion) {
  std::string notes;
  for (const std::string& note : options.NotHonoured) notes += "; not honoured: " + note;
  wchar_t summary[2048];
  std::swprintf(
      summary, std::size(summary),
      L"%s on %s (%s) %dx%d at %u/%u fps: %s, %s entry point%s, %s, rc %s bitrate %lld maxrate "
      L"%lld "
      L"buffer %d qp %d, gop %d, b-frames %d, async_depth %d, quality level %d%s%s",
      options.CodecName, nodePath.c_str(), display_->VendorString().c_str(), width_, height_,
      settings.FrameRate.num, settings.FrameRate.den, VaapiProfileName(vaProfile),
      options.LowPower ? "low-power" : "full", hasLowPower ? "" : " (no low-power one)",
      conversion.c_str(), RateControlName(options.RateControl),
      static_cast<long long>(options.BitRate), static_cast<long long>(options.MaxRate),
      options.BufferSize, options.Qp, options.GopSize, options.MaxBFrames, options.AsyncDepth,
      options.QualityLevel,
      options.Tier < 0    ? ""
      : options.Tier != 0 ? ", high tier"
                          : ", main tier",
      notes.c_str());
  summary_ = summary;
  library_ = DescribeEncoderLibrary(options.CodecName) + L" on VA driver \"" +
             Utf8ToWide(display_->VendorString()) + L"\"";
}

AMF_RESULT VaapiEncoder::Prepare(int slot) {
  AVFrame* surface = cpuSurfaces_[slot].get();
  AVFrame* mapping = cpuMappings_[slot].get();
  av_frame_unref(mapping);
  av_frame_unref(surface);
  int r = av_hwframe_get_buffer(nv12Frames_.get(), surface, 0);
  if (r >= 0) {
    mapping->format = AV_PIX_FMT_NV12;
    // Written whole, so nothing is read back; where the driver derives images the CPU writes the
    // surface itself, else the image is put when the mapping goes.
    r = av_hwframe_map(mapping, surface, AV_HWFRAME_MAP_WRITE | AV_HWFRAME_MAP_OVERWRITE);
  }
  if (r >= 0) return AMF_OK;
  return CallFailed("NV12 surface mapping", r);
}

Nv12Planes VaapiEncoder::PlanesOf(int slot) const {
  const AVFrame* mapping = cpuMappings_[slot].get();
  return Nv12Planes{mapping->data[0], mapping->linesize[0], mapping->data[1], mapping->linesize[1]};
}

AMF_RESULT VaapiEncoder::ProcessToNv12Surface(BgraView picture) {
  av_frame_unref(nv12Surface_.get());
  if (const int r = av_hwframe_get_buffer(nv12Frames_.get(), nv12Surface_.get(), 0); r < 0)
    return CallFailed("av_hwframe_get_buffer", r);
  VASurfaceID source = picture.Surface;
  if (source == VA_INVALID_SURFACE) {
    bgraPicture_->data[0] = const_cast<std::uint8_t*>(picture.Pixels);
    bgraPicture_->linesize[0] = picture.RowPitch;
    av_frame_unref(bgraSurface_.get());
    int r = av_hwframe_get_buffer(bgraFrames_.get(), bgraSurface_.get(), 0);
    if (r >= 0) r = av_hwframe_transfer_data(bgraSurface_.get(), bgraPicture_.get(), 0);
    if (r < 0) return CallFailed("BGRA upload", r);
    source = SurfaceOf(bgraSurface_.get());
  }
  std::string failure;
  if (!vpp_->Convert(source, SurfaceOf(nv12Surface_.get()), &failure))
    return Stop("video processor: " + failure, AMF_FAIL);
  return AMF_OK;
}

AMF_RESULT VaapiEncoder::ConvertNow(BgraView picture, int slot) {
  const auto start = std::chrono::steady_clock::now();
  if (!converter_.Convert(picture.Pixels, picture.RowPitch, width_, height_, PlanesOf(slot))) {
    TraceLine(amf::AMF_TRACE_ERROR, NamesOf(codec_).ComponentId,
              L"Cannot convert a %dx%d picture of pitch %d", width_, height_, picture.RowPitch);
    return AMF_INVALID_ARG;
  }
  conversionNs_ = NanosecondsSince(start);
  return AMF_OK;
}

ConversionJob VaapiEncoder::JobFor(BgraView picture, int slot) const {
  return ConversionJob{picture.Pixels, picture.RowPitch, width_, height_, {}, PlanesOf(slot)};
}

// Where the encoding lasts at least half a conversion: a driver that returns at once leaves
// nothing to hide, and the hand-over would only move the conversion to the other core, where it
// costs more.
bool VaapiEncoder::WorthConvertingAhead() const { return 2 * encodingNs_ >= conversionNs_; }

AMF_RESULT VaapiEncoder::EncodeSlot(int slot, std::int64_t frameIndex, PacketSink& sink) {
  av_frame_unref(cpuMappings_[slot].get());  // the pixels are the surface's now
  const auto start = std::chrono::steady_clock::now();
  const AMF_RESULT result = SendSurface(cpuSurfaces_[slot].get(), frameIndex, sink);
  encodingNs_ = NanosecondsSince(start);
  return result;
}

AMF_RESULT VaapiEncoder::ReadBack(BgraView* picture) {
  if (!readBack_) {
    readBack_ = std::make_unique<VaSurfaceCopier>(display_->Handle());
    readBackPixels_.resize(std::size_t{4} * static_cast<std::size_t>(width_) *
                           static_cast<std::size_t>(height_));
  }
  if (const VAStatus s =
          readBack_->Read(picture->Surface, width_, height_, readBackPixels_.data(), 4 * width_);
      s != VA_STATUS_SUCCESS)
    return Stop(std::string("reading the slot's surface back: ") + vaErrorStr(s), AMF_FAIL);
  *picture = BgraView{readBackPixels_.data(), 4 * width_};
  return AMF_OK;
}

AMF_RESULT VaapiEncoder::Encode(BgraView picture, std::int64_t frameIndex, BgraView next,
                                PacketSink& sink) {
  TakeLibavError();  // a failure of this picture is to be named by its own first error
  if (!vpp_) {
    if (picture.Pixels == nullptr) {
      if (const AMF_RESULT r = ReadBack(&picture); r != AMF_OK) return r;
    }
    if (next.Pixels == nullptr) next = BgraView{};
    return ahead_.Encode(picture, frameIndex, next, *this, sink);
  }
  if (const AMF_RESULT r = ProcessToNv12Surface(picture); r != AMF_OK) return r;
  return SendSurface(nv12Surface_.get(), frameIndex, sink);
}

AMF_RESULT VaapiEncoder::SendSurface(AVFrame* surface, std::int64_t frameIndex, PacketSink& sink) {
  const AMF_RESULT result =
      SendPicture(context_.get(), surface, frameIndex, packet_.get(), *this, sink);
  av_frame_unref(surface);  // the encoder holds its own reference
  return result;
}

AMF_RESULT VaapiEncoder::Flush(PacketSink& sink) {
  return SendEndOfStream(context_.get(), packet_.get(), *this, sink);
}

AMF_RESULT VaapiEncoder::CallFailed(const char* call, int code) {
  std::string failure;
  const AMF_RESULT result = AvFailure(call, code, AMF_FAIL, &failure);
  const std::string vaCall = VaCallOfLibavError(TakeLibavError());
  return Stop(vaCall.empty() ? failure : vaCall + " (" + failure + ")", result);
}

AMF_RESULT VaapiEncoder::Stop(const std::string& why, AMF_RESULT result) {
  std::string line = "amfrt: " + WideToUtf8Lossy(NamesOf(codec_).ComponentId) +
                     " stops encoding on " + nodePath_ + ": " + why + "; the clip gets " +
                     WideToUtf8Lossy(ResultName(result));
  TraceLine(amf::AMF_TRACE_ERROR, NamesOf(codec_).ComponentId, L"%ls", Utf8ToWide(line).c_str());
  // One line per clip: the series' own line follows it and names the clip.
  if (!stopped_) WriteStderrLine(std::move(line));
  stopped_ = true;
  return result;
}

AMF_RESULT VaapiEncoder::HandOn(const AVPacket& packet, PacketSink& sink) {
  if (packet.size <= 0) {
    // A frame the stream would not hold: the driver's coded buffer came back empty.
    return Stop(
        "vaMapBuffer: the coded buffer of frame " + std::to_string(packet.pts) + " holds no data",
        AMF_FAIL);
  }
  const std::span<const std::uint8_t> data(packet.data, static_cast<std::size_t>(packet.size));
  const bool key = (packet.flags & AV_PKT_FLAG_KEY) != 0;
  // Drivers that write their own headers may differ from the global ones: the stream's own win.
  if (key) {
    std::vector<std::uint8_t> sets = ExtractParameterSets(codec_, data);
    if (!sets.empty()) parameterSets_ = std::move(sets);
  }
  return sink.OnPacket(EncodedPacket{data, packet.pts, VaapiPictureType(codec_, data, key)});
}

}  // namespace corvantis::amfrt
