#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "amfrt/encoder_settings.h"

namespace corvantis::amfrt {

// The AMF output data types.
enum class FrameType : std::int64_t { Idr = 0, I = 1, P = 2, B = 3 };

// Walks the NAL units of an Annex-B byte stream (3- or 4-byte start codes). Each unit is given
// without its start code and without trailing zero bytes.
class NalReader {
 public:
  explicit NalReader(std::span<const std::uint8_t> stream);
  bool Next(std::span<const std::uint8_t>* nal);

 private:
  std::span<const std::uint8_t> stream_;
  std::size_t position_;
};

int NalType(Codec codec, std::span<const std::uint8_t> nal);

// VPS/SPS/PPS of `headers` (global headers or a key packet) in decoding order (VPS, SPS, PPS)
// whatever order they came in, each behind a 4-byte start code.
std::vector<std::uint8_t> ExtractParameterSets(Codec codec, std::span<const std::uint8_t> headers);

// The frame's type from its slices' NAL types (IDR) and the encoder's picture type
// (AVPictureType: 1 I, 2 P, 3 B; anything else counts as P).
FrameType ClassifyFrame(Codec codec, std::span<const std::uint8_t> packet, int pictureType);

// Builds one output: [access unit delimiter] [parameter sets] then the packet's NAL units
// without any delimiter or parameter set of its own, each behind a 4-byte start code.
// `out` is replaced; its capacity is reused.
void BuildAccessUnit(Codec codec, FrameType type, bool delimiter,
                     std::span<const std::uint8_t> parameterSets,
                     std::span<const std::uint8_t> packet, std::vector<std::uint8_t>& out);

}  // namespace corvantis::amfrt
