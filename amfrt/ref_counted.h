#pragma once
#include <atomic>

#include "amf/api/interfaces.h"

namespace corvantis::amfrt {

// Acquire/Release for one AMF interface implementation; the last Release calls OnFinalRelease.
template <typename Base>
class RefCounted : public Base {
 public:
  amf::amf_long Acquire() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  amf::amf_long Release() override {
    const amf::amf_long left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) OnFinalRelease();
    return left;
  }

 protected:
  RefCounted() = default;
  ~RefCounted() override = default;
  // Objects kept in a pool override this to go back instead of being deleted.
  virtual void OnFinalRelease() { delete this; }
  // A pooled object handed out again starts with one reference.
  void ResetReferences() { refs_.store(1, std::memory_order_relaxed); }

 private:
  std::atomic<amf::amf_long> refs_{1};
};

// QueryInterface over the listed interfaces, each of which `self` derives from.
template <typename... Interfaces, typename Self>
AMF_RESULT QueryInterfaces(Self* self, const amf::AMFGuid& iid, void** out) {
  if (out == nullptr) return AMF_INVALID_POINTER;
  *out = nullptr;
  const bool found =
      ((iid == Interfaces::IID() ? (*out = static_cast<Interfaces*>(self), true) : false) || ...);
  if (!found) return AMF_NO_INTERFACE;
  self->Acquire();
  return AMF_OK;
}

}  // namespace corvantis::amfrt
