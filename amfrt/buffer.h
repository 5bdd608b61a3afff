#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "amfrt/property_storage.h"

namespace corvantis::amfrt {

class BufferPool;

// A host-memory AMFBuffer. One that came from a BufferPool goes back to it on its last Release.
class HostBuffer final : public DataImpl<amf::AMFBuffer> {
 public:
  explicit HostBuffer(amf::amf_size size);

  AMF_RESULT QueryInterface(const amf::AMFGuid& iid, void** out) override;
  amf::AMF_MEMORY_TYPE GetMemoryType() override { return amf::AMF_MEMORY_HOST; }
  amf::AMF_DATA_TYPE GetDataType() override { return amf::AMF_DATA_BUFFER; }
  bool IsReusable() override { return true; }
  AMF_RESULT SetSize(amf::amf_size newSize) override;
  amf::amf_size GetSize() override { return bytes_.size(); }
  void* GetNative() override { return bytes_.data(); }

  // The bytes; their capacity survives reuse.
  std::vector<std::uint8_t>& Bytes() { return bytes_; }

 private:
  friend class BufferPool;
  ~HostBuffer() override = default;
  void OnFinalRelease() override;

  std::shared_ptr<BufferPool> pool_;
  std::vector<std::uint8_t> bytes_;
};

// Output buffers that are reused once their holder releases them, so that encoding allocates
// nothing per frame once every buffer has reached the largest frame size. Buffers outlive the
// pool's owner: each one handed out keeps the pool alive.
class BufferPool : public std::enable_shared_from_this<BufferPool> {
 public:
  static std::shared_ptr<BufferPool> Create();
  BufferPool(const BufferPool&) = delete;
  BufferPool& operator=(const BufferPool&) = delete;
  ~BufferPool();

  // An empty buffer without properties, holding one reference; nullptr when out of memory.
  HostBuffer* Take();

 private:
  friend class HostBuffer;
  BufferPool() = default;
  void Return(HostBuffer* buffer);

  std::mutex mutex_;
  std::vector<HostBuffer*> idle_;
};

}  // namespace corvantis::amfrt
