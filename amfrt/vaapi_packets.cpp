#include "amfrt/vaapi_packets.h"

#include <algorithm>
#include <optional>

#include "amfrt/annexb.h"

namespace corvantis::amfrt {
namespace {

constexpr int kPictureI = 1;
constexpr int kPictureP = 2;
constexpr int kPictureB = 3;

// Reads the RBSP bits after the NAL header, skipping emulation-prevention bytes.
class RbspBits {
 public:
  explicit RbspBits(std::span<const std::uint8_t> nal) : nal_(nal), byte_(1) {}

  std::optional<std::uint32_t> UnsignedExpGolomb() {
    int zeros = 0;
    for (;;) {
      const auto bit = Bit();
      if (!bit) return std::nullopt;
      if (*bit == 1) break;
      if (++zeros > 31) return std::nullopt;
    }
    std::uint64_t value = 1;
    for (int i = 0; i < zeros; ++i) {
      const auto bit = Bit();
      if (!bit) return std::nullopt;
      value = value << 1 | *bit;
    }
    return static_cast<std::uint32_t>(value - 1);
  }

 private:
  std::optional<std::uint32_t> Bit() {
    if (bit_ == 8) {
      bit_ = 0;
      ++byte_;
      if (byte_ >= 3 && byte_ < nal_.size() && nal_[byte_] == 3 && nal_[byte_ - 1] == 0 &&
          nal_[byte_ - 2] == 0)
        ++byte_;
    }
    if (byte_ >= nal_.size()) return std::nullopt;
    return (nal_[byte_] >> (7 - bit_++)) & 1u;
  }

  std::span<const std::uint8_t> nal_;
  std::size_t byte_;
  int bit_ = 0;
};

}  // namespace

int VaapiPictureType(Codec codec, std::span<const std::uint8_t> packet, bool key) {
  if (key) return kPictureI;
  const std::span<const int> slices = DescriptionOf(codec).Nal.TypedSlices;
  if (slices.empty()) return kPictureP;
  NalReader reader(packet);
  std::span<const std::uint8_t> nal;
  while (reader.Next(&nal)) {
    if (std::find(slices.begin(), slices.end(), NalType(codec, nal)) == slices.end()) continue;
    RbspBits bits(nal);
    if (!bits.UnsignedExpGolomb()) return kPictureP;  // first_mb_in_slice
    const auto sliceType = bits.UnsignedExpGolomb();
    if (!sliceType) return kPictureP;
    switch (*sliceType % 5) {
      case 1: return kPictureB;
      case 2:
      case 4: return kPictureI;
      default: return kPictureP;
    }
  }
  return kPictureP;
}

}  // namespace corvantis::amfrt
