#pragma once
#include <cstdint>
#include <mutex>

#include "amf/api/interfaces.h"
#include "amf/clip_scenario.h"
#include "amf/codec_property_names.h"

namespace corvantis {

// Configures a new encoder component for a clip (ConfigureAvcEncoder or ConfigureHevcEncoder).
using ConfigureEncoderFn = void (*)(amf::AMFFactory* factory, amf::AMFContext* context,
                                    amf::AMFComponentPtr& component, const ClipScenario& scenario,
                                    std::uint32_t targetBitrate);

// The constants in which the AVC and HEVC series differ.
struct CodecProfile {
  const wchar_t* Label;
  ConfigureEncoderFn ConfigureEncoder;
  CodecPropertyNames Properties;
  const wchar_t* FileExtension;
  std::once_flag* VersionReported;  // once per process and codec
};

const CodecProfile& AvcProfile();
const CodecProfile& HevcProfile();

}  // namespace corvantis
