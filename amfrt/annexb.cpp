#include "amfrt/annexb.h"

namespace corvantis::amfrt {
namespace {

constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};

constexpr int kAvcIdr = 5;
constexpr int kAvcSps = 7;
constexpr int kAvcPps = 8;
constexpr int kAvcAud = 9;
constexpr int kHevcIdrWithLeading = 19;
constexpr int kHevcIdrNoLeading = 20;
constexpr int kHevcCra = 21;
constexpr int kHevcVps = 32;
constexpr int kHevcSps = 33;
constexpr int kHevcPps = 34;
constexpr int kHevcAud = 35;

bool IsParameterSet(Codec codec, int type) {
  return codec == Codec::Avc ? type == kAvcSps || type == kAvcPps
                             : type == kHevcVps || type == kHevcSps || type == kHevcPps;
}

bool IsDelimiter(Codec codec, int type) {
  return type == (codec == Codec::Avc ? kAvcAud : kHevcAud);
}

bool IsIdr(Codec codec, int type) {
  return codec == Codec::Avc ? type == kAvcIdr
                             : type == kHevcIdrWithLeading || type == kHevcIdrNoLeading;
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
  return codec == Codec::Avc ? nal[0] & 0x1F : (nal[0] >> 1) & 0x3F;
}

std::vector<std::uint8_t> ExtractParameterSets(Codec codec, std::span<const std::uint8_t> headers) {
  // A decoder drops a PPS whose SPS it has not seen, and VCN writes PPS before SPS
  // (Mesa 22.3 radeon_vcn_enc_1_2.c radeon_enc_headers_hevc, radeon_uvd_enc_1_1.c
  // encode): one pass per type, in decoding order.
  static constexpr int kAvcOrder[] = {kAvcSps, kAvcPps};
  static constexpr int kHevcOrder[] = {kHevcVps, kHevcSps, kHevcPps};
  const std::span<const int> order =
      codec == Codec::Avc ? std::span<const int>(kAvcOrder) : std::span<const int>(kHevcOrder);
  std::vector<std::uint8_t> sets;
  for (const int wanted : order) {
    NalReader reader(headers);
    std::span<const std::uint8_t> nal;
    while (reader.Next(&nal))
      if (NalType(codec, nal) == wanted) AppendNal(sets, nal);
  }
  return sets;
}

FrameType ClassifyFrame(Codec codec, std::span<const std::uint8_t> packet, int pictureType) {
  NalReader reader(packet);
  std::span<const std::uint8_t> nal;
  bool cra = false;
  while (reader.Next(&nal)) {
    const int type = NalType(codec, nal);
    if (IsIdr(codec, type)) return FrameType::Idr;
    cra = cra || (codec == Codec::Hevc && type == kHevcCra);
  }
  if (cra) return FrameType::I;
  switch (pictureType) {
    case 1: return FrameType::I;
    case 3: return FrameType::B;
    default: return FrameType::P;
  }
}

void BuildAccessUnit(Codec codec, FrameType type, bool delimiter,
                     std::span<const std::uint8_t> parameterSets,
                     std::span<const std::uint8_t> packet, std::vector<std::uint8_t>& out) {
  out.clear();
  if (delimiter) {
    const std::uint8_t payload = static_cast<std::uint8_t>(DelimiterPictureType(type) << 5 | 0x10);
    if (codec == Codec::Avc) {
      const std::uint8_t aud[] = {kAvcAud, payload};
      AppendNal(out, aud);
    } else {
      // nal_unit_type 35, layer 0, temporal id 0.
      const std::uint8_t aud[] = {kHevcAud << 1, 0x01, payload};
      AppendNal(out, aud);
    }
  }
  Append(out, parameterSets);
  NalReader reader(packet);
  std::span<const std::uint8_t> nal;
  while (reader.Next(&nal)) {
    const int nalType = NalType(codec, nal);
    if (!IsDelimiter(codec, nalType) && !IsParameterSet(codec, nalType)) AppendNal(out, nal);
  }
}

}  // namespace corvantis::amfrt
