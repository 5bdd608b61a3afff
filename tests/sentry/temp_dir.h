#pragma once

#include <filesystem>
#include <string>

#include "tests/fakes/files.h"

namespace corvantis::sentry::testing {

using ::corvantis::TempDir;

// The names of the regular files in `folder`, sorted.
inline std::vector<std::string> FileNames(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; ++it) {
    if (it->is_regular_file()) names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvantis::sentry::testing
