#pragma once
#include <cstdint>
#include <mutex>

#include "amf/api/interfaces.h"
#include "scenarios/clip_scenario.h"

// Configures a new encoder component for a clip (ConfigureAvcEncoder or ConfigureHevcEncoder).
using ConfigureEncoderFn = void (*)(amf::AMFFactory* factory, amf::AMFContext* context,
                                    amf::AMFComponentPtr& component, const ClipScenario& scenario,
                                    std::uint32_t targetBitrate);

// Names of the per-frame and output properties of one codec.
struct CodecPropertyNames {
  const wchar_t* InsertAud;
  const wchar_t* HeaderProperties[2];  // the second is null for HEVC
  const wchar_t* OutputDataType;
};

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
