#pragma once
#include <cstdint>

#include "amf/api/result.h"
#include "amfrt/conversion_thread.h"
#include "amfrt/frame_encoder.h"

namespace corvantis::amfrt {

// An encoder's two picture slots, as ConversionAhead takes them in turn. The encoder traces its
// own failures.
class PictureSlots {
 public:
  // `slot` ready to be written into.
  virtual AMF_RESULT Prepare(int slot) = 0;
  // `picture` converted into the prepared `slot` on the calling thread.
  virtual AMF_RESULT ConvertNow(BgraView picture, int slot) = 0;
  // The job that converts `picture` into the prepared `slot` on another thread.
  virtual ConversionJob JobFor(BgraView picture, int slot) const = 0;
  // Whether the next picture is worth converting ahead at all.
  virtual bool WorthConvertingAhead() const { return true; }
  // Encodes the picture in `slot` as `frameIndex`; what became ready goes to `sink`.
  virtual AMF_RESULT EncodeSlot(int slot, std::int64_t frameIndex, PacketSink& sink) = 0;

 protected:
  ~PictureSlots() = default;
};

// Each picture goes into the slot it was converted into ahead, when the previous call had it as
// `next`, or is converted now; while it is encoded, `next` is converted into the other slot on a
// thread of its own, so that a queue of pictures costs the encoding alone where a core is free.
// One caller at a time.
class ConversionAhead {
 public:
  AMF_RESULT Encode(BgraView picture, std::int64_t frameIndex, BgraView next, PictureSlots& slots,
                    PacketSink& sink);

 private:
  ConversionThread thread_;
  // The picture converted ahead: its frame index, its source and its slot.
  std::int64_t index_ = -1;
  const std::uint8_t* source_ = nullptr;
  int slot_ = 0;
};

}  // namespace corvantis::amfrt
