#pragma once
#include <cstdint>

#include "amf/api/interfaces.h"
#include "amf/clip_scenario.h"

namespace corvantis {

// Peak rate allowed above the target: 5/4 of it, in unsigned 32-bit arithmetic.
constexpr std::uint32_t PeakBitrate(std::uint32_t target) { return (5u * target) / 4u; }

// Creates the AVC encoder on `factory` into `component` (releasing what it held), sets its
// low-latency configuration for the clip and initialises it for BGRA frames. A first Init result
// of AMF_ENCODER_NOT_PRESENT is reported on the console and retried once with low latency off.
// Every other failure raises the AMF error; the component created so far stays in `component`.
void ConfigureAvcEncoder(amf::AMFFactory* factory, amf::AMFContext* context,
                         amf::AMFComponentPtr& component, const ClipScenario& scenario,
                         std::uint32_t targetBitrate);

// The HEVC twin; no retry: every non-zero Init result raises.
void ConfigureHevcEncoder(amf::AMFFactory* factory, amf::AMFContext* context,
                          amf::AMFComponentPtr& component, const ClipScenario& scenario,
                          std::uint32_t targetBitrate);

}  // namespace corvantis
