#include "sentry/ids.h"

#include <cstdio>
#include <ctime>
#include <random>

namespace corvantis::sentry {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Uuid NewUuidV4() {
  // random_device reads the kernel's generator: no seeding, and nothing shared across fork.
  std::random_device device;
  Uuid uuid{};
  for (size_t i = 0; i < uuid.size(); i += 4) {
    const unsigned int word = device();
    for (size_t j = 0; j < 4; ++j) uuid[i + j] = static_cast<unsigned char>(word >> (8 * j));
  }
  uuid[6] = static_cast<unsigned char>((uuid[6] & 0x0F) | 0x40);
  uuid[8] = static_cast<unsigned char>((uuid[8] & 0x3F) | 0x80);
  return uuid;
}

std::string ToHex(const Uuid& uuid) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(32);
  for (const unsigned char byte : uuid) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::optional<Uuid> ParseUuid(std::string_view text) {
  std::string digits;
  if (text.size() == 36) {
    for (size_t i = 0; i < text.size(); ++i) {
      const bool dashPlace = i == 8 || i == 13 || i == 18 || i == 23;
      if (dashPlace != (text[i] == '-')) return std::nullopt;
      if (!dashPlace) digits.push_back(text[i]);
    }
  } else if (text.size() == 32) {
    digits = text;
  } else {
    return std::nullopt;
  }
  Uuid uuid{};
  for (size_t i = 0; i < uuid.size(); ++i) {
    const int high = HexDigit(digits[2 * i]);
    const int low = HexDigit(digits[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    uuid[i] = static_cast<unsigned char>(high * 16 + low);
  }
  return uuid;
}

std::string FormatTimestamp(std::chrono::system_clock::time_point time) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::seconds;
  const auto sinceEpoch = duration_cast<milliseconds>(time.time_since_epoch());
  const auto whole = std::chrono::floor<seconds>(sinceEpoch);
  const auto millis = (sinceEpoch - whole).count();
  const std::time_t secs = static_cast<std::time_t>(whole.count());
  std::tm utc{};
  gmtime_r(&secs, &utc);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

std::string NowTimestamp() { return FormatTimestamp(std::chrono::system_clock::now()); }

}  // namespace corvantis::sentry
