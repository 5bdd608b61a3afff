#pragma once
// The drivers the tests' driver answers as: tables, not code. Each answer names the file and
// function of the real driver it comes from (Mesa 22.3.6, intel-media-driver), so that a
// difference can be looked up; docs/encoder-runtime.md lists them per personality.
#include <va/va.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/vaapi_driver/headers.h"

namespace corvantis::vadriver {

struct ProfileEntrypoints {
  VAProfile profile;
  std::vector<VAEntrypoint> entrypoints;
};

// One vaGetConfigAttributes answer of the encode entry point, per codec.
struct EncodeAttribute {
  VAConfigAttribType type;
  std::uint32_t h264, hevc;  // VA_ATTRIB_NOT_SUPPORTED where the driver has none
  const char* source;
};

enum class SyncBuffer {
  Missing,    // VA_STATUS_ERROR_UNIMPLEMENTED, as when the entry is absent
  MesaAsync,  // buffer.c vlVaSyncBuffer: a zero timeout times out, only an infinite one waits
  Waits,      // waits for any timeout; an unknown buffer is VA_STATUS_ERROR_INVALID_BUFFER
};

enum class ProcessorMatrix {
  AsAsked,       // the pipeline's colour standard and ranges
  Bt709Limited,  // whatever was asked
};

struct Personality {
  std::string name;
  std::string vendor;
  std::vector<ProfileEntrypoints> profiles;  // in the order vaQueryConfigProfiles lists them
  std::vector<EncodeAttribute> encode;
  // vaCreateConfig refuses packed headers beyond what the codec reports, more than one rate
  // control bit and anything but its own three attributes (config.c vlVaCreateConfig).
  bool mesaConfig;
  HeaderWriter headers;
  bool interlacedNv12;  // vaDeriveImage refuses NV12 surfaces (image.c vlVaDeriveImage)
  ProcessorMatrix processorMatrix;
  SyncBuffer syncBuffer;
  std::vector<std::uint32_t> imageFormats;      // vaQueryImageFormats, in its order
  std::vector<std::uint32_t> processorFormats;  // surface formats of VAEntrypointVideoProc
  // Largest encode surface (vaQuerySurfaceAttributes, vaCreateContext): the kernel's encode caps
  // for the AMD parts (si_get_video_param MAX_WIDTH), CODEC_4K_MAX_PIC_* for iHD's AVC.
  int maxWidth = 4096, maxHeight = 2304;

  // The encode entry point's answer for `type`, VA_ATTRIB_NOT_SUPPORTED when it has none.
  std::uint32_t Attribute(VAProfile profile, VAConfigAttribType type) const;
};

// The personality of that name, or nullptr. Names: radeonsi, polaris, intel-gen12,
// intel-gen12-nohuc, intel, no-hevc, no-encoder, no-vpp (radeonsi without its processor; also
// no-vpp-real).
const Personality* FindPersonality(const std::string& name);

}  // namespace corvantis::vadriver
