#pragma once
// The drivers the tests' driver answers as: tables, not code.
#include <va/va.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vadriver {

struct ProfileEntrypoints {
  VAProfile profile;
  std::vector<VAEntrypoint> entrypoints;
};

struct Personality {
  std::string name;
  std::string vendor;
  std::vector<ProfileEntrypoints> profiles;  // in the order vaQueryConfigProfiles lists them
  std::uint32_t rateControlModes;            // VA_RC_* of every encode entry point
  std::uint32_t packedHeaders;               // VA_ENC_PACKED_HEADER_*
  int maxWidth, maxHeight;                   // of the encoders
  std::uint32_t maxReferences;               // VAConfigAttribEncMaxRefFrames: list 0 | list 1 << 16
  int qualityLevels;                         // 0: no VAConfigAttribEncQualityRange
  std::vector<std::uint32_t> imageFormats;   // vaQueryImageFormats, in its order
  std::vector<std::uint32_t> processorFormats;  // surface formats of VAEntrypointVideoProc
  bool syncBuffer;                              // has vaSyncBuffer
};

// The personality of that name, or nullptr.
const Personality* FindPersonality(const std::string& name);

}  // namespace vadriver
