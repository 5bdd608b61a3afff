#pragma once
#include <array>

#include "amf/clip_scenario.h"

namespace corvantis {

// The clips of every series, in the order they run.
inline constexpr std::array<ClipScenario, 20> ScenarioMatrix = {{
    {640, 360, 144, 1, 30},   {640, 360, 260, 1, 30},   {1280, 720, 60, 1, 30},
    {1280, 720, 120, 1, 30},  {1920, 1080, 60, 1, 30},  {1920, 1080, 72, 1, 30},
    {1920, 1080, 90, 1, 30},  {1920, 1080, 120, 1, 30}, {1920, 1080, 144, 1, 30},
    {2560, 1440, 60, 1, 30},  {2560, 1440, 72, 1, 30},  {2560, 1440, 90, 1, 30},
    {2560, 1440, 120, 1, 30}, {2560, 1440, 144, 1, 30}, {3840, 2160, 30, 1, 30},
    {3840, 2160, 60, 1, 30},  {3840, 2160, 72, 1, 30},  {3840, 2160, 90, 1, 30},
    {3840, 2160, 120, 1, 30}, {3840, 2160, 144, 1, 30},
}};

inline constexpr std::uint32_t kClipSeconds = 30;
inline constexpr std::uint32_t kTargetBitrate = 500000;

}  // namespace corvantis
