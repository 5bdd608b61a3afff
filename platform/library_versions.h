#pragma once
#include <string>

namespace corvantis {

// The media libraries this process has loaded, each as its file tells; empty for one not loaded.
struct LibraryVersions {
  std::string Libva;       // "2.17.0", from libva.so.2.1700.0
  std::string Libavcodec;  // "59.37.100"
  std::string Libx264;     // "build 164": libx264's soname is its build number
  std::string Libx265;     // x265_version_str with the build, e.g. "3.5+1-f0c1022b6 build 199"
};

// Read from the files the dynamic loader mapped, so the encoder runtime's libraries count once it
// is loaded.
LibraryVersions LoadedLibraryVersions();

}  // namespace corvantis
