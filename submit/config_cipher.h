#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace corvantis {

// The chat endpoint's base address is kept in the binary only in this enciphered form, so that it
// does not show in a dump of the file's strings. Applying the cipher twice gives the text back.
inline std::string ApplyConfigCipher(const std::uint8_t* bytes, std::size_t size,
                                     std::uint32_t key) {
  std::string out(size, '\0');
  std::uint32_t state = key != 0 ? key : 0x9E3779B9u;
  for (std::size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    out[i] = static_cast<char>(bytes[i] ^ static_cast<std::uint8_t>(state >> 24));
  }
  return out;
}

}  // namespace corvantis
