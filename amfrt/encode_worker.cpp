#include "amfrt/encode_worker.h"

#include <chrono>
#include <thread>

#include <pthread.h>

#include <new>
#include <system_error>

#include "amfrt/annexb.h"
#include "amfrt/trace.h"
#include "platform/signal_stack.h"

namespace corvantis::amfrt {

AMF_RESULT EncodeWorker::Start(Codec codec, std::unique_ptr<FrameEncoder> encoder,
                               std::unique_ptr<EncodeWorker>* out) {
  out->reset();
  try {
    std::unique_ptr<EncodeWorker> worker(new EncodeWorker(codec, std::move(encoder)));
    worker->thread_ = StartThread([running = worker.get()] { running->Run(); });
    pthread_setname_np(worker->thread_.native_handle(), DescriptionOf(codec).ThreadName);
    *out = std::move(worker);
  } catch (const std::bad_alloc&) {
    return AMF_OUT_OF_MEMORY;
  } catch (const std::system_error& error) {
    TraceLine(amf::AMF_TRACE_ERROR, NamesOf(codec).ComponentId,
              L"Cannot start the encoder thread: %s", error.what());
    return AMF_FAIL;
  }
  return AMF_OK;
}

EncodeWorker::EncodeWorker(Codec codec, std::unique_ptr<FrameEncoder> encoder)
    : codec_(codec),
      encoder_(std::move(encoder)),
      pool_(BufferPool::Create()),
      inEncoder_(kMaxFramesInEncoder),
      inputs_(kInputDepth),
      ready_(kMaxReadyOutputs + kMaxFramesInEncoder) {}

EncodeWorker::~EncodeWorker() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  for (; !inputs_.Empty(); inputs_.Pop()) inputs_.Front().Surface->Release();
  for (; !ready_.Empty(); ready_.Pop()) ready_.Front()->Release();
}

AMF_RESULT EncodeWorker::Submit(TextureSurface* surface, const FrameRequest& request) {
  {
    std::lock_guard lock(mutex_);
    if (failure_ != AMF_OK) return failure_;
    if (drainRequested_) return AMF_EOF;
    if (inputs_.Full()) return AMF_INPUT_FULL;
    surface->Acquire();
    inputs_.Push(Pending{surface, request});
  }
  wake_.notify_one();
  return AMF_OK;
}

AMF_RESULT EncodeWorker::Query(amf::AMFData** out) {
  std::unique_lock lock(mutex_);
  if (!ready_.Empty()) {
    const bool workerWaitsForRoom = ready_.Size() >= kMaxReadyOutputs;
    *out = ready_.Front();
    ready_.Pop();
    lock.unlock();
    if (workerWaitsForRoom) wake_.notify_one();
    return AMF_OK;
  }
  if (failure_ != AMF_OK) return failure_;
  return flushed_ ? AMF_EOF : AMF_REPEAT;
}

AMF_RESULT EncodeWorker::Drain() {
  {
    std::lock_guard lock(mutex_);
    if (failure_ != AMF_OK) return failure_;
    drainRequested_ = true;
  }
  wake_.notify_one();
  return AMF_OK;
}

bool EncodeWorker::HasWork() const {
  if (failure_ != AMF_OK) return false;
  if (!inputs_.Empty()) return ready_.Size() < kMaxReadyOutputs;
  return drainRequested_ && !flushed_;
}

void EncodeWorker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || HasWork(); });
    if (stop_) return;
    if (!inputs_.Empty()) {
      const Pending pending = inputs_.Front();
      // Queued and acquired until its own turn, so its texture outlives this encoding.
      TextureSurface* next = inputs_.Size() > 1 ? inputs_.At(1).Surface : nullptr;
      lock.unlock();
      const AMF_RESULT result = EncodeOne(pending, next);
      pending.Surface->Release();
      lock.lock();
      // Only now, encoded, does the frame stop counting against the input depth.
      inputs_.Pop();
      if (result != AMF_OK) Fail(result, lock);
    } else {
      lock.unlock();
      const AMF_RESULT result = encoder_->Flush(*this);
      lock.lock();
      flushed_ = true;
      if (result != AMF_OK) Fail(result, lock);
    }
  }
}

AMF_RESULT EncodeWorker::EncodeOne(const Pending& pending, TextureSurface* next) {
  if (sent_ - received_ >= static_cast<std::int64_t>(inEncoder_.size())) {
    TraceLine(amf::AMF_TRACE_ERROR, NamesOf(codec_).ComponentId,
              L"The encoder holds more than %zu frames", inEncoder_.size());
    return AMF_FAIL;
  }
#ifdef AMFRT_EXTRA_FRAME_DELAY_MS
  // A deliberately slow encoder for tests of what the program does when one falls behind.
  std::this_thread::sleep_for(std::chrono::milliseconds(AMFRT_EXTRA_FRAME_DELAY_MS));
#endif
  const std::int64_t index = sent_++;
  inEncoder_[static_cast<std::size_t>(index) % inEncoder_.size()] = pending.Request;
  const auto view = [](TextureSurface* surface) {
    if (surface == nullptr) return BgraView{};
    ID3D11Texture2D* texture = surface->Texture();
    return BgraView{texture->Pixels(), static_cast<int>(texture->RowPitch()),
                    texture->VideoSurface()};
  };
  return encoder_->Encode(view(pending.Surface), index, view(next), *this);
}

AMF_RESULT EncodeWorker::OnPacket(const EncodedPacket& packet) {
  const CodecNames& names = NamesOf(codec_);
  const auto window = static_cast<std::int64_t>(inEncoder_.size());
  if (packet.FrameIndex >= sent_ || packet.FrameIndex < sent_ - window) {
    TraceLine(amf::AMF_TRACE_ERROR, names.ComponentId, L"Packet of unknown frame %lld",
              static_cast<long long>(packet.FrameIndex));
    return AMF_FAIL;
  }
  const FrameRequest& request =
      inEncoder_[static_cast<std::size_t>(packet.FrameIndex) % inEncoder_.size()];
  HostBuffer* buffer = pool_->Take();
  if (buffer == nullptr) return AMF_OUT_OF_MEMORY;
  const FrameType type = ClassifyFrame(codec_, packet.Data, packet.PictureType);
  try {
    BuildAccessUnit(codec_, type, request.Delimiter,
                    request.Headers ? encoder_->ParameterSets() : std::span<const std::uint8_t>(),
                    packet.Data, buffer->Bytes());
  } catch (const std::bad_alloc&) {
    buffer->Release();
    return AMF_OUT_OF_MEMORY;
  }
  buffer->SetPts(request.Pts);
  buffer->SetDuration(request.Duration);
  amf::AMFVariantStruct dataType;
  amf::AMFVariantInit(&dataType);
  amf::AMFVariantAssignInt64(&dataType, static_cast<amf::amf_int64>(type));
  const AMF_RESULT stored = buffer->SetProperty(names.OutputDataType, dataType);
  if (stored != AMF_OK) {
    buffer->Release();
    return stored;
  }
  ++received_;
  {
    std::lock_guard lock(mutex_);
    if (ready_.Full()) {
      buffer->Release();
      return AMF_FAIL;
    }
    ready_.Push(buffer);
  }
  return AMF_OK;
}

void EncodeWorker::Fail(AMF_RESULT result, std::unique_lock<std::mutex>& lock) {
  failure_ = result;
  TraceLine(amf::AMF_TRACE_ERROR, NamesOf(codec_).ComponentId, L"Encoding stopped: %ls",
            ResultName(result));
  std::vector<TextureSurface*> dropped;
  for (; !inputs_.Empty(); inputs_.Pop()) dropped.push_back(inputs_.Front().Surface);
  lock.unlock();
  for (TextureSurface* surface : dropped) surface->Release();
  lock.lock();
}

}  // namespace corvantis::amfrt
