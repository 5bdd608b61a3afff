#include "amf/encode_pump.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "amf/amf_result.h"

namespace corvantis {

namespace {

class TimerPeriod {
 public:
  explicit TimerPeriod(Clock& clock) : clock_(clock) { clock_.TimeBeginPeriod(1); }
  ~TimerPeriod() { clock_.TimeEndPeriod(1); }
  TimerPeriod(const TimerPeriod&) = delete;
  TimerPeriod& operator=(const TimerPeriod&) = delete;

 private:
  Clock& clock_;
};

bool PoolFull(const EncodeLoopState& state) {
  return (state.WriteSlot + 1) % kSurfacePoolSize == state.ReadSlot;
}

// ns to us, saturated: a difference of the monotonic clock never comes near the limits.
std::int32_t Microseconds(std::int64_t ns) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(ns / 1000, INT32_MIN, INT32_MAX));
}

// The accepted submission in `slot` was due `dueOffset` ms after the start.
void RecordSubmission(EncodeLoopState& state, const SurfaceSlot& slot, std::uint32_t dueOffset) {
  FrameSample sample;
  const std::uint64_t dueNs = state.StartTimeNs + std::uint64_t{dueOffset} * 1000000u;
  sample.LatenessUs = Microseconds(static_cast<std::int64_t>(slot.SubmitTimeNs - dueNs));
  sample.InFlight = static_cast<std::uint8_t>(
      (state.WriteSlot + kSurfacePoolSize - state.ReadSlot) % kSurfacePoolSize);
  state.Frames.push_back(sample);
}

void SetFrameProperties(amf::AMFSurface* surface, const CodecPropertyNames& names, bool first) {
  SetAmfProperty(surface, names.InsertAud, 1);
  for (const wchar_t* header : names.HeaderProperties)
    if (header != nullptr) SetAmfProperty(surface, header, first ? 1 : 0);
}

void EndOfInput(amf::AMFComponent* encoder, SurfacePool& pool, const CodecPropertyNames& names,
                EncodeLoopState& state, EncodeLoopHost& host, Clock& clock) {
  for (;;) {
    const AMF_RESULT result = encoder->Drain();
    if (result == AMF_OK) break;
    if (result != AMF_INPUT_FULL) CheckAmfResult(result);
    PumpOutput(encoder, pool, names, state, clock);
    clock.Sleep(1);
  }
  const std::uint32_t lastSlot = (state.WriteSlot + kSurfacePoolSize - 1) % kSurfacePoolSize;
  host.SaveLastFrame(pool.Slots[lastSlot].Texture.get());
}

}  // namespace

bool PumpOutput(amf::AMFComponent* encoder, SurfacePool& pool, const CodecPropertyNames& names,
                EncodeLoopState& state, Clock& clock) {
  for (;;) {
    amf::AMFDataPtr data;
    const AMF_RESULT result = encoder->QueryOutput(&data);
    if (result != AMF_OK) {
      data.Release();
      if (result == AMF_EOF) return true;
      if (result == AMF_REPEAT) return false;
      CheckAmfResult(result);
    }
    const SurfaceSlot& slot = pool.Slots[state.ReadSlot];
    const auto latency = static_cast<std::int32_t>(clock.TimeGetTime() - slot.SubmitTime);
    const std::uint64_t nowNs = clock.MonotonicNanoseconds();
    const std::int32_t latencyUs =
        Microseconds(static_cast<std::int64_t>(nowNs - slot.SubmitTimeNs));
    state.Window.Push(latency, state.LatencySum);

    // An output that is missing or not a buffer cannot be written or matched to its frame.
    if (!data) CheckAmfResult(AMF_INVALID_POINTER);
    amf::AMFBufferPtr buffer;
    if (data->QueryInterface(amf::AMFBuffer::IID(), reinterpret_cast<void**>(&buffer)) != AMF_OK ||
        !buffer)
      CheckAmfResult(AMF_INVALID_DATA_TYPE);

    const amf::amf_size size = buffer->GetSize();
    auto chunk = std::make_shared<std::vector<std::uint8_t>>(size);
    if (size != 0) std::memcpy(chunk->data(), buffer->GetNative(), size);
    state.OutputChunks.push_back(std::move(chunk));
    state.ReadSlot = (state.ReadSlot + 1) % kSurfacePoolSize;

    std::int32_t dataType = 0;
    CheckAmfResult(GetInt32Property(buffer.GetPtr(), names.OutputDataType, &dataType));
    const std::size_t output = state.OutputRecords.size();
    if (output < state.Frames.size()) {
      state.Frames[output].LatencyMs = latency;
      state.Frames[output].LatencyUs = latencyUs;
    }
    state.OutputRecords.push_back(OutputRecord{dataType, static_cast<std::int64_t>(size)});
  }
}

void RunEncodeLoop(amf::AMFComponent* encoder, SurfacePool& pool, const ClipScenario& scenario,
                   const CodecPropertyNames& names, EncodeLoopState& state, EncodeLoopHost& host,
                   Clock& clock) {
  TimerPeriod period(clock);
  state.FrameCount = scenario.FrameCount();
  state.OutputRecords.reserve(state.FrameCount);
  state.StartTime = clock.TimeGetTime();
  state.StartTimeNs = clock.MonotonicNanoseconds();
  state.EncodeTimeSamples.reserve(state.FrameCount);
  state.Frames.reserve(state.FrameCount);

  for (;;) {
    if (PumpOutput(encoder, pool, names, state, clock)) return;

    while (state.FrameIndex < state.FrameCount) {
      if (PoolFull(state)) break;
      const std::uint32_t k = state.FrameIndex;
      const std::uint32_t dueOffset = FrameDueOffset(k, scenario);
      const std::uint32_t due = state.StartTime + dueOffset;
      if (static_cast<std::int32_t>(due - clock.TimeGetTime()) > 0) break;

      if (!state.Window.empty())
        state.EncodeTimeSamples.push_back(static_cast<double>(state.LatencySum) /
                                          static_cast<double>(state.Window.size()));
      host.RenderFrame(k, state.FrameCount, state.Window.size(), state.LatencySum);
      SurfaceSlot& slot = pool.Slots[state.WriteSlot];
      host.CopyFrameToSlot(slot.Texture.get());

      amf::AMFSurface* surface = slot.Surface.GetPtr();
      SetFrameProperties(surface, names, k == 0);
      const std::int64_t pts = FramePts(k, scenario);
      surface->SetPts(pts);
      surface->SetDuration(FramePts(k + 1, scenario) - pts);
      slot.SubmitTime = clock.TimeGetTime();
      slot.SubmitTimeNs = clock.MonotonicNanoseconds();

      const AMF_RESULT result = encoder->SubmitInput(surface);
      if (result == AMF_INPUT_FULL) break;
      CheckAmfResult(result);
      state.WriteSlot = (state.WriteSlot + 1) % kSurfacePoolSize;
      RecordSubmission(state, slot, dueOffset);
      state.FrameIndex = k + 1;
      if (state.FrameIndex == state.FrameCount)
        EndOfInput(encoder, pool, names, state, host, clock);
    }
    clock.Sleep(1);
  }
}

}  // namespace corvantis
