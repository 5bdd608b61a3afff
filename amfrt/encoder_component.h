#pragma once
#include <memory>
#include <mutex>

#include "amfrt/encode_worker.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/property_storage.h"

namespace corvantis::amfrt {

// The AVC or HEVC encoder component. Properties are checked and converted when set and read at
// Init; Init opens the encoder and starts its thread, Terminate stops it.
class EncoderComponent final : public PropertyStorageImpl<amf::AMFComponent> {
 public:
  // Holds a reference to the context.
  EncoderComponent(Codec codec, amf::AMFContext* context);

  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override;
  // See NormalizeEncoderProperty for the results.
  AMF_RESULT SetProperty(const wchar_t* name, amf::AMFVariantStruct value) override;

  // AMF_SURFACE_FORMAT_NOT_SUPPORTED unless BGRA, AMF_INVALID_RESOLUTION for sizes the encoder
  // cannot take, AMF_ENCODER_NOT_PRESENT without the codec, AMF_ALREADY_INITIALIZED when running.
  // On a hardware adapter's device: AMF_NO_DEVICE without a VA driver on its node,
  // AMF_NOT_SUPPORTED when the driver cannot encode the codec or size (see OpenFrameEncoder).
  AMF_RESULT Init(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width,
                  amf::amf_int32 height) override;
  AMF_RESULT ReInit(amf::amf_int32 width, amf::amf_int32 height) override;
  AMF_RESULT Terminate() override;
  AMF_RESULT Drain() override;
  // Drops everything queued and restarts the stream (with an IDR).
  AMF_RESULT Flush() override;
  // Takes surfaces of this runtime's context with the Init size.
  AMF_RESULT SubmitInput(amf::AMFData* pData) override;
  AMF_RESULT QueryOutput(amf::AMFData** ppData) override;
  amf::AMFContext* GetContext() override { return context_.GetPtr(); }

 private:
  ~EncoderComponent() override;
  AMF_RESULT InitLocked(amf::AMF_SURFACE_FORMAT format, amf::amf_int32 width,
                        amf::amf_int32 height);
  FrameRequest ReadFrameRequest(TextureSurface* surface) const;

  const Codec codec_;
  const amf::AMFContextPtr context_;

  std::mutex mutex_;
  std::unique_ptr<EncodeWorker> worker_;
  amf::AMF_SURFACE_FORMAT format_ = amf::AMF_SURFACE_UNKNOWN;
  amf::amf_int32 width_ = 0;
  amf::amf_int32 height_ = 0;
};

}  // namespace corvantis::amfrt
