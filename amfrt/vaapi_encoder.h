#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "amfrt/av_handles.h"
#include "amfrt/codec_exchange.h"
#include "amfrt/conversion_ahead.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/frame_encoder.h"
#include "amfrt/split_conversion.h"
#include "amfrt/vaapi_options.h"
#include "amfrt/vaapi_vpp.h"
#include "platform/com_ptr.h"
#include "platform/d3d11.h"
#include "platform/va_display.h"
#include "platform/va_surface.h"

struct AVBufferRef;
struct AVCodec;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace corvantis::amfrt {

// h264_vaapi / hevc_vaapi behind libavcodec on the display of a hardware device's render node.
// Each BGRA picture is turned into NV12 by the driver's video processor, straight from the VA
// surface it is in (uploaded to one first when it is in CPU memory), or converted to NV12 by
// libyuv on the CPU straight into a mapped NV12 surface where the driver has no processor for
// BGRA; there the next queued picture is converted on a thread of its own while the current one
// is encoded, as the software encoders do.
class VaapiEncoder final : public FrameEncoder, private PictureSlots, private CodecExchange {
 public:
  // AMF_NO_DEVICE when the node cannot be opened or has no VA driver, AMF_NOT_SUPPORTED when the
  // driver cannot encode the codec, profile or size, AMF_INVALID_RESOLUTION for sizes no encoder
  // takes. A failure is traced and written to stderr in one line with the node's kernel driver.
  static AMF_RESULT Open(const EncoderSettings& settings, ID3D11Device* device, int width,
                         int height, std::unique_ptr<FrameEncoder>* out);
  ~VaapiEncoder() override;

  std::span<const std::uint8_t> ParameterSets() const override { return parameterSets_; }
  const std::wstring& Summary() const override { return summary_; }
  const std::wstring& Library() const override { return library_; }
  AMF_RESULT Encode(BgraView picture, std::int64_t frameIndex, BgraView next,
                    PacketSink& sink) override;
  AMF_RESULT Flush(PacketSink& sink) override;

 private:
  explicit VaapiEncoder(Codec codec) : codec_(codec) {}
  AMF_RESULT OpenOn(const EncoderSettings& settings, ID3D11Device* device, int width, int height,
                    std::string* failure);
  // The steps of OpenOn, in order; each says why it failed in `failure`.
  AMF_RESULT OpenDevice(std::string* failure);
  // The video processor where the options ask for it and the driver gives it, else the surfaces
  // the CPU converts into; `conversion` says which, for the summary.
  AMF_RESULT SetUpConversion(bool gpuConversion, const wchar_t* scope, std::string* conversion,
                             std::string* failure);
  // The matrix and range the video processor really applies, from a test picture through it.
  std::optional<VppColour> FindProcessorColour(std::string* why);
  AMF_RESULT OpenCodec(const AVCodec* codec, const EncoderSettings& settings,
                       const VaapiOptions& options, std::string* failure);
  void Describe(const EncoderSettings& settings, const VaapiOptions& options, int vaProfile,
                bool hasLowPower, const std::string& nodePath, const std::string& conversion);
  // A new NV12 surface holding `picture`, by the video processor.
  AMF_RESULT ProcessToNv12Surface(BgraView picture);
  // CPU conversion of a picture in a VA surface (the processor was refused after the device
  // made its textures surfaces): its pixels, read back into memory of our own.
  AMF_RESULT ReadBack(BgraView* picture);
  // CPU conversion only: a new NV12 surface in `slot`, mapped for writing; the traced failure
  // when it cannot be had.
  AMF_RESULT Prepare(int slot) override;
  AMF_RESULT ConvertNow(BgraView picture, int slot) override;
  ConversionJob JobFor(BgraView picture, int slot) const override;
  bool WorthConvertingAhead() const override;
  AMF_RESULT EncodeSlot(int slot, std::int64_t frameIndex, PacketSink& sink) override;
  Nv12Planes PlanesOf(int slot) const;
  // Sends `surface` as picture `frameIndex`, lets it go and hands on what became ready.
  AMF_RESULT SendSurface(AVFrame* surface, std::int64_t frameIndex, PacketSink& sink);
  AMF_RESULT CallFailed(const char* call, int code) override;
  // A failure mid-clip: traced, and said on stderr once for the clip with `why` (the VA call and
  // its status where known).
  AMF_RESULT Stop(const std::string& why, AMF_RESULT result);
  AMF_RESULT HandOn(const AVPacket& packet, PacketSink& sink) override;

  const Codec codec_;
  int width_ = 0;
  int height_ = 0;
  std::string nodePath_;
  bool stopped_ = false;
  // Declared first: everything below refers to the device's display and goes before it.
  com_ptr<ID3D11Device> d3dDevice_;
  VaDisplay* display_ = nullptr;
  std::unique_ptr<VaapiVpp> vpp_;
  VppColour colour_;  // what vpp_ applies
  AvBufferPtr device_;
  AvBufferPtr bgraFrames_;
  AvBufferPtr nv12Frames_;
  AvFramePtr bgraPicture_;  // the texture's pixels, not owned
  AvFramePtr bgraSurface_;
  AvFramePtr nv12Surface_;
  AvPacketPtr packet_;
  AvCodecContextPtr context_;
  // CPU conversion only: two NV12 surfaces in turn, each mapped for writing while it is converted
  // into. The conversion ahead goes first, before the mappings it writes into.
  AvFramePtr cpuSurfaces_[2];
  AvFramePtr cpuMappings_[2];
  ConversionAhead ahead_;
  SplitConverter converter_;  // pictures not converted ahead
  // How long the last conversion on this thread and the last encoding took: the next picture is
  // converted ahead only where the encoding is long enough to hide a good part of it.
  std::int64_t conversionNs_ = 0;
  std::int64_t encodingNs_ = 0;
  std::unique_ptr<VaSurfaceCopier> readBack_;
  std::vector<std::uint8_t> readBackPixels_;
  std::vector<std::uint8_t> parameterSets_;
  std::wstring summary_;
  std::wstring library_;
};

}  // namespace corvantis::amfrt
