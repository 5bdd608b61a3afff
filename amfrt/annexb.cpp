#include "amfrt/annexb.h"

#include <algorithm>

namespace corvantis::amfrt {
namespace {

constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};

bool Contains(std::span<const int> types, int type) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

// Index of the first byte of the next start code (00 00 01) at or after `from`, or size.
std::size_t FindStartCode(std::span<const std::uint8_t> s, std::size_t from) {
  for (std::size_t i = from; i + 2 < s.size(); ++i) {
    if (s[i + 2] > 1) {
      i += 2;  // none of the next three positions can start 00 00 01
    } else if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      return i;
    }
  }
  return s.size();
}

void Append(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendNal(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> nal) {
  Append(out, kStartCode);
  Append(out, nal);
}

// primary_pic_type (H.264) / pic_type (H.265): 0 I only, 1 I and P, 2 I, P and B.
std::uint8_t DelimiterPictureType(FrameType type) {
  switch (type) {
    case FrameType::Idr:
    case FrameType::I: return 0;
    case FrameType::P: return 1;
    default: return 2;
  }
}

}  // namespace

NalReader::NalReader(std::span<const std::uint8_t> stream) : stream_(stream) {
  const std::size_t first = FindStartCode(stream_, 0);
  position_ = first < stream_.size() ? first + 3 : stream_.size();
}

bool NalReader::Next(std::span<const std::uint8_t>* nal) {
  while (position_ < stream_.size()) {
    const std::size_t begin = position_;
    const std::size_t next = FindStartCode(stream_, begin);
    position_ = next < stream_.size() ? next + 3 : stream_.size();
    std::size_t end = next;
    while (end > begin && stream_[end - 1] == 0)
      --end;  // trailing_zero_8bits and a 4-byte code's zero
    if (end > begin) {
      *nal = stream_.subspan(begin, end - begin);
      return true;
    }
  }
  return false;
}

int NalType(Codec codec, std::span<const std::uint8_t> nal) {
  if (nal.empty()) return -1;
  const NalTypes& types = DescriptionOf(codec).Nal;
  return (nal[0] >> types.HeaderShift) & types.HeaderMask;
}

std::vector<std::uint8_t> ExtractParameterSets(Codec codec, std::span<const std::uint8_t> headers) {
  // A decoder drops a PPS whose SPS it has not seen, and VCN writes PPS before SPS
  // (Mesa 22.3 radeon_vcn_enc_1_2.c radeon_enc_headers_hevc, radeon_uvd_enc_1_1.c
  // encode): one pass per type, in decoding order.
  std::vector<std::uint8_t> sets;
  for (const int wanted : DescriptionOf(codec).Nal.ParameterSets) {
    NalReader reader(headers);
    std::span<const std::uint8_t> nal;
    while (reader.Next(&nal))
      if (NalType(codec, nal) == wanted) AppendNal(sets, nal);
  }
  return sets;
}

FrameType ClassifyFrame(Codec codec, std::span<const std::uint8_t> packet, int pictureType) {
  const NalTypes& types = DescriptionOf(codec).Nal;
  NalReader reader(packet);
  std::span<const std::uint8_t> nal;
  bool intra = false;
  while (reader.Next(&nal)) {
    const int type = NalType(codec, nal);
    if (Contains(types.Idr, type)) return FrameType::Idr;
    intra = intra || Contains(types.CleanRandomAccess, type);
  }
  if (intra) return FrameType::I;
  switch (pictureType) {
    case 1: return FrameType::I;
    case 3: return FrameType::B;
    default: return FrameType::P;
  }
}

void BuildAccessUnit(Codec codec, FrameType type, bool delimiter,
                     std::span<const std::uint8_t> parameterSets,
                     std::span<const std::uint8_t> packet, std::vector<std::uint8_t>& out) {
  const NalTypes& types = DescriptionOf(codec).Nal;
  out.clear();
  if (delimiter) {
    Append(out, kStartCode);
    Append(out, types.DelimiterHeader);
    // The picture type's three bits, then the RBSP stop bit.
    out.push_back(static_cast<std::uint8_t>(DelimiterPictureType(type) << 5 | 0x10));
  }
  Append(out, parameterSets);
  NalReader reader(packet);
  std::span<const std::uint8_t> nal;
  while (reader.Next(&nal)) {
    const int nalType = NalType(codec, nal);
    if (nalType != types.Delimiter && !Contains(types.ParameterSets, nalType)) AppendNal(out, nal);
  }
}

}  // namespace corvantis::amfrt
