#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "amfrt/buffer.h"
#include "amfrt/encoder_settings.h"
#include "amfrt/frame_encoder.h"
#include "amfrt/ring.h"
#include "amfrt/surface.h"

namespace corvantis::amfrt {

// What a submitted surface asks of its frame's output.
struct FrameRequest {
  amf::amf_pts Pts = 0;
  amf::amf_pts Duration = 0;
  bool Delimiter = false;
  bool Headers = false;
};

// The encoder thread of one component: takes surfaces in submission order, reads their
// textures, encodes them and queues one output buffer per frame.
class EncodeWorker final : private PacketSink {
 public:
  // Frames submitted and not yet encoded before SubmitInput says AMF_INPUT_FULL.
  static constexpr std::size_t kInputDepth = 16;
  // Outputs not yet queried before the thread waits; above the program's 31 frames in flight.
  static constexpr std::size_t kMaxReadyOutputs = 32;
  // Frames inside libavcodec not yet out again (its lookahead and reordering delay).
  static constexpr std::size_t kMaxFramesInEncoder = 128;

  // Starts the thread. AMF_FAIL when it cannot be started.
  static AMF_RESULT Start(Codec codec, std::unique_ptr<FrameEncoder> encoder,
                          std::unique_ptr<EncodeWorker>* out);
  // Stops and joins the thread; queued surfaces and unqueried outputs are released.
  ~EncodeWorker();

  // Queues the surface (acquired until it is encoded). AMF_INPUT_FULL at the depth, AMF_EOF
  // after Drain, an earlier encoding failure once it happened.
  AMF_RESULT Submit(TextureSurface* surface, const FrameRequest& request);
  // The oldest output (one reference for the caller); AMF_REPEAT when none is ready yet, AMF_EOF
  // once drained and delivered.
  AMF_RESULT Query(amf::AMFData** out);
  // Ends the stream after the queued frames.
  AMF_RESULT Drain();

 private:
  struct Pending {
    TextureSurface* Surface = nullptr;
    FrameRequest Request;
  };

  EncodeWorker(Codec codec, std::unique_ptr<FrameEncoder> encoder);
  void Run();
  bool HasWork() const;
  AMF_RESULT EncodeOne(const Pending& pending, TextureSurface* next);
  AMF_RESULT OnPacket(const EncodedPacket& packet) override;
  void Fail(AMF_RESULT result, std::unique_lock<std::mutex>& lock);

  const Codec codec_;
  const std::unique_ptr<FrameEncoder> encoder_;
  const std::shared_ptr<BufferPool> pool_;

  // Worker thread only.
  std::vector<FrameRequest> inEncoder_;  // by frame index modulo its size
  std::int64_t sent_ = 0;
  std::int64_t received_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  Ring<Pending> inputs_;
  Ring<HostBuffer*> ready_;
  bool stop_ = false;
  bool drainRequested_ = false;
  bool flushed_ = false;
  AMF_RESULT failure_ = AMF_OK;

  std::thread thread_;
};

}  // namespace corvantis::amfrt
