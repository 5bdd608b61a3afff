// Build step: reads the chat base address from a file and writes the header that carries it
// enciphered.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "submit/config_cipher.h"

using namespace corvantis;

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: encipher_config <address file> <header>\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();

  std::random_device random;
  const std::uint32_t key = random() | 1u;
  const std::string cipher =
      ApplyConfigCipher(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), key);

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << "#pragma once\n#include <cstdint>\n\n";
  out << "inline constexpr std::uint32_t kChatBaseAddressKey = " << key << "u;\n";
  out << "inline constexpr std::size_t kChatBaseAddressSize = " << text.size() << ";\n";
  out << "inline constexpr std::uint8_t kChatBaseAddressCipher[] = {";
  for (unsigned char c : cipher) out << static_cast<unsigned>(c) << "u, ";
  out << "0u};\n";
  return out ? 0 : 1;
}
