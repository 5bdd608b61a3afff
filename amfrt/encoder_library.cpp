#include "amfrt/encoder_library.h"

#include <dlfcn.h>
#include <link.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstring>
#include <string>

#include "platform/utf.h"

namespace corvantis::amfrt {
namespace {

struct SonameSearch {
  std::string Prefix;  // "libx264.so."
  std::string Suffix;  // what follows it in the loaded file's name
};

int FindLoaded(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<SonameSearch*>(data);
  if (info->dlpi_name == nullptr) return 0;
  const char* slash = std::strrchr(info->dlpi_name, '/');
  const std::string name = slash != nullptr ? slash + 1 : info->dlpi_name;
  if (name.compare(0, search->Prefix.size(), search->Prefix) != 0) return 0;
  search->Suffix = name.substr(search->Prefix.size());
  return 1;
}

}  // namespace

std::wstring DescribeEncoderLibrary(const char* codecName) {
  std::string text = codecName != nullptr ? codecName : "unknown";
  // libx264's and libx265's sonames carry their build numbers.
  SonameSearch search{text + ".so.", {}};
  dl_iterate_phdr(FindLoaded, &search);
  if (text == "libx265") {
    if (auto* version = static_cast<const char* const*>(dlsym(RTLD_DEFAULT, "x265_version_str"));
        version != nullptr && *version != nullptr)
      text += std::string(" ") + *version;
  }
  if (!search.Suffix.empty()) text += " build " + search.Suffix;
  const unsigned v = avcodec_version();
  text += " (libavcodec " + std::to_string(v >> 16) + "." + std::to_string((v >> 8) & 0xFF) + "." +
          std::to_string(v & 0xFF) + ")";
  return Utf8ToWide(text);
}

}  // namespace corvantis::amfrt
