#pragma once
#include <va/va.h>

#include <cstdint>
#include <span>
#include <string>

#include "amf/api/result.h"

namespace corvantis::amfrt {

// One packet the encoder produced.
struct EncodedPacket {
  std::span<const std::uint8_t> Data;
  std::int64_t FrameIndex;  // the index given to Encode
  int PictureType;          // AVPictureType; 0 when the encoder did not say
};

// A BGRA picture in memory, or in a VA surface of the device's display; none when it has neither.
struct BgraView {
  const std::uint8_t* Pixels = nullptr;
  int RowPitch = 0;
  VASurfaceID Surface = VA_INVALID_SURFACE;
};

class PacketSink {
 public:
  virtual AMF_RESULT OnPacket(const EncodedPacket& packet) = 0;

 protected:
  ~PacketSink() = default;
};

// An opened encoder that takes BGRA pictures: libx264 / libx265 on the CPU, or VA-API on a
// render node. One thread encodes at a time.
class FrameEncoder {
 public:
  virtual ~FrameEncoder() = default;
  // The stream's parameter sets, Annex-B; valid for the packets handed out so far.
  virtual std::span<const std::uint8_t> ParameterSets() const = 0;
  // One line saying what was opened, for the trace.
  virtual const std::wstring& Summary() const = 0;
  // The library that encodes and its version, e.g. "libx264 build 164 (libavcodec 59.37.100)".
  virtual const std::wstring& Library() const = 0;
  // Encodes one picture; every packet that became ready goes to `sink`. `next`, when it has
  // pixels, is the picture the following call encodes: the encoder may read it now, alongside
  // the encoding, and is done with it when this call returns.
  virtual AMF_RESULT Encode(BgraView picture, std::int64_t frameIndex, BgraView next,
                            PacketSink& sink) = 0;
  // Ends the stream and hands out the packets still inside the encoder.
  virtual AMF_RESULT Flush(PacketSink& sink) = 0;
};

// Routes libavcodec's log lines into the trace instead of stderr; once per process, undone when
// the library unloads.
void InstallLibavLogRoute();
// The first error line libav logged on this thread since the last call, without its prefix;
// empty when none.
std::string TakeLibavError();

}  // namespace corvantis::amfrt
