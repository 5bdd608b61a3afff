#include "amfrt/conversion_ahead.h"

namespace corvantis::amfrt {

AMF_RESULT ConversionAhead::Encode(BgraView picture, std::int64_t frameIndex, BgraView next,
                                   PictureSlots& slots, PacketSink& sink) {
  const int slot = slot_;
  const bool convertedAhead =
      index_ == frameIndex && source_ == picture.Pixels && picture.Pixels != nullptr;
  index_ = -1;
  if (!convertedAhead) {
    if (const AMF_RESULT r = slots.Prepare(slot); r != AMF_OK) return r;
    if (const AMF_RESULT r = slots.ConvertNow(picture, slot); r != AMF_OK) return r;
  }
  const int nextSlot = 1 - slot;
  const bool posted = slots.WorthConvertingAhead() && next.Pixels != nullptr &&
                      slots.Prepare(nextSlot) == AMF_OK &&
                      thread_.Post(slots.JobFor(next, nextSlot));
  const AMF_RESULT result = slots.EncodeSlot(slot, frameIndex, sink);
  // Withdrawn or refused, the next picture is converted in its own call, which reports a failure.
  if (posted && thread_.Finish() == ConversionThread::Outcome::Converted) {
    index_ = frameIndex + 1;
    source_ = next.Pixels;
    slot_ = nextSlot;
  }
  return result;
}

}  // namespace corvantis::amfrt
