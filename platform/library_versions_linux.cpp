#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/library_versions.h"

namespace corvantis {
namespace {

struct Loaded {
  std::string Prefix;  // "libx264.so."
  std::string Path;    // as the loader mapped it
  std::string Suffix;  // what follows the prefix in the real file's name
};

int Find(dl_phdr_info* info, std::size_t, void* data) {
  auto* search = static_cast<Loaded*>(data);
  if (info->dlpi_name == nullptr) return 0;
  const char* slash = std::strrchr(info->dlpi_name, '/');
  const std::string name = slash != nullptr ? slash + 1 : info->dlpi_name;
  if (name.compare(0, search->Prefix.size(), search->Prefix) != 0) return 0;
  search->Path = info->dlpi_name;
  // The soname is a link; the file it names carries the whole version.
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(info->dlpi_name, nullptr),
                                                         &std::free);
  std::string file = real ? real.get() : info->dlpi_name;
  file = file.substr(file.rfind('/') + 1);
  search->Suffix = file.compare(0, search->Prefix.size(), search->Prefix) == 0
                       ? file.substr(search->Prefix.size())
                       : name.substr(search->Prefix.size());
  return 1;
}

Loaded Look(const char* prefix) {
  Loaded found{prefix, {}, {}};
  dl_iterate_phdr(Find, &found);
  return found;
}

// libtool's 2.1700.0 of libva 2.17.0: the minor and micro numbers share the middle field.
std::string LibvaVersion(const std::string& suffix) {
  const std::size_t first = suffix.find('.');
  const std::size_t second = suffix.find('.', first + 1);
  if (first == std::string::npos || second == std::string::npos) return suffix;
  const long middle = std::strtol(suffix.c_str() + first + 1, nullptr, 10);
  return suffix.substr(0, first) + "." + std::to_string(middle / 100) + "." +
         std::to_string(middle % 100);
}

std::string X265Version(const Loaded& x265) {
  void* handle = dlopen(x265.Path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) return {};
  std::string text;
  if (auto* version = static_cast<const char* const*>(dlsym(handle, "x265_version_str"));
      version != nullptr && *version != nullptr)
    text = *version;
  dlclose(handle);
  return text;
}

}  // namespace

LibraryVersions LoadedLibraryVersions() {
  LibraryVersions versions;
  if (const Loaded va = Look("libva.so."); !va.Path.empty())
    versions.Libva = LibvaVersion(va.Suffix);
  if (const Loaded avcodec = Look("libavcodec.so."); !avcodec.Path.empty())
    versions.Libavcodec = avcodec.Suffix;
  if (const Loaded x264 = Look("libx264.so."); !x264.Path.empty())
    versions.Libx264 = "build " + x264.Suffix;
  if (const Loaded x265 = Look("libx265.so."); !x265.Path.empty()) {
    const std::string version = X265Version(x265);
    versions.Libx265 = (version.empty() ? "" : version + " ") + "build " + x265.Suffix;
  }
  return versions;
}

}  // namespace corvantis
