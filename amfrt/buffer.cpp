#include "amfrt/buffer.h"

#include <new>

namespace corvantis::amfrt {

HostBuffer::HostBuffer(amf::amf_size size) : bytes_(size) {}

AMF_RESULT HostBuffer::QueryInterface(const amf::AMFGuid& iid, void** out) {
  return QueryInterfaces<amf::AMFBuffer, amf::AMFData, amf::AMFPropertyStorage, amf::AMFInterface>(
      this, iid, out);
}

AMF_RESULT HostBuffer::SetSize(amf::amf_size newSize) {
  try {
    bytes_.resize(newSize);
  } catch (const std::bad_alloc&) {
    return AMF_OUT_OF_MEMORY;
  }
  return AMF_OK;
}

void HostBuffer::OnFinalRelease() {
  // The local keeps the pool alive until Return has finished; it may delete this buffer when it
  // goes, so nothing of this object is touched afterwards.
  std::shared_ptr<BufferPool> pool = std::move(pool_);
  if (pool)
    pool->Return(this);
  else
    delete this;
}

std::shared_ptr<BufferPool> BufferPool::Create() {
  auto pool = std::shared_ptr<BufferPool>(new BufferPool());
  pool->idle_.reserve(64);
  return pool;
}

BufferPool::~BufferPool() {
  for (HostBuffer* buffer : idle_) delete buffer;
}

HostBuffer* BufferPool::Take() {
  HostBuffer* buffer = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      buffer = idle_.back();
      idle_.pop_back();
    }
  }
  if (buffer == nullptr) {
    buffer = new (std::nothrow) HostBuffer(0);
    if (buffer == nullptr) return nullptr;
  } else {
    buffer->ResetReferences();
    buffer->Clear();
    buffer->bytes_.clear();
    buffer->SetPts(0);
    buffer->SetDuration(0);
  }
  buffer->pool_ = shared_from_this();
  return buffer;
}

void BufferPool::Return(HostBuffer* buffer) {
  std::lock_guard lock(mutex_);
  try {
    idle_.push_back(buffer);
  } catch (const std::bad_alloc&) {
    delete buffer;
  }
}

}  // namespace corvantis::amfrt
