#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "amf/api/interfaces.h"
#include "amf/clip_scenario.h"
#include "amf/codec_property_names.h"
#include "amf/frame_timing.h"
#include "amf/surface_pool.h"
#include "platform/clock.h"

namespace corvantis {

// The last 32 encode latencies (ms), oldest first, with their running sum read as unsigned.
class LatencyWindow {
 public:
  static constexpr std::uint32_t kCapacity = 32;
  // Appends a latency, dropping the oldest when full, and keeps `sum` in step.
  void Push(std::int32_t latency, std::uint32_t& sum) {
    if (count_ == kCapacity) {
      sum -= static_cast<std::uint32_t>(values_[first_]);
      first_ = (first_ + 1) % kCapacity;
      --count_;
    }
    values_[(first_ + count_) % kCapacity] = latency;
    ++count_;
    sum += static_cast<std::uint32_t>(latency);
  }
  std::uint32_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // i = 0 is the oldest.
  std::int32_t operator[](std::uint32_t i) const { return values_[(first_ + i) % kCapacity]; }

 private:
  std::array<std::int32_t, kCapacity> values_{};
  std::uint32_t first_ = 0;
  std::uint32_t count_ = 0;
};

struct OutputRecord {
  std::int32_t DataType;  // 0 IDR, 1 I, 2 P, 3 B
  std::int64_t Size;
};

// Everything one clip's loop produces and keeps.
struct EncodeLoopState {
  std::uint32_t WriteSlot = 0;
  std::uint32_t ReadSlot = 0;
  std::uint32_t FrameIndex = 0;   // k: the next frame to submit
  std::uint32_t FrameCount = 0;   // N
  std::uint32_t StartTime = 0;    // S
  std::uint64_t StartTimeNs = 0;  // S at the clock's resolution, read right after it
  LatencyWindow Window;
  std::uint32_t LatencySum = 0;
  std::vector<double> EncodeTimeSamples;
  std::vector<std::shared_ptr<std::vector<std::uint8_t>>> OutputChunks;
  std::vector<OutputRecord> OutputRecords;
  std::vector<FrameSample> Frames;  // one per accepted frame, reserved for N entries
};

// What the loop needs of the program around it.
class EncodeLoopHost {
 public:
  virtual ~EncodeLoopHost() = default;
  // Draws frame k into the frame texture.
  virtual void RenderFrame(std::uint32_t frameIndex, std::uint32_t frameCount,
                           std::uint32_t windowCount, std::uint32_t latencySum) = 0;
  // Copies the frame texture into a slot's texture.
  virtual void CopyFrameToSlot(ID3D11Texture2D* slotTexture) = 0;
  // Saves the picture of the last frame (the slot that holds it), after Drain succeeded.
  virtual void SaveLastFrame(ID3D11Texture2D* slotTexture) = 0;
};

// Frame k is due this many ms after the start: (k * den * 1000) / num in unsigned 32-bit.
constexpr std::uint32_t FrameDueOffset(std::uint32_t k, const ClipScenario& s) {
  return (k * s.FrameRateDenominator * 1000u) / s.FrameRateNumerator;
}

// Presentation time of frame k in 100 ns units.
constexpr std::int64_t FramePts(std::uint32_t k, const ClipScenario& s) {
  return static_cast<std::int64_t>(k) * static_cast<std::int64_t>(s.FrameRateDenominator) *
         10000000 / static_cast<std::int64_t>(s.FrameRateNumerator);
}

// Runs the clip in real time: frames are submitted when due (late ones back to back), at most
// 31 in flight, outputs collected with their latencies; after the last frame the encoder is
// drained and the last picture saved. Returns at the end of the stream; raises on AMF failures.
// The 1 ms timer period is held only while it runs.
void RunEncodeLoop(amf::AMFComponent* encoder, SurfacePool& pool, const ClipScenario& scenario,
                   const CodecPropertyNames& names, EncodeLoopState& state, EncodeLoopHost& host,
                   Clock& clock);

// Collects every ready output; true at the end of the stream, false when nothing more is ready.
bool PumpOutput(amf::AMFComponent* encoder, SurfacePool& pool, const CodecPropertyNames& names,
                EncodeLoopState& state, Clock& clock);

}  // namespace corvantis
