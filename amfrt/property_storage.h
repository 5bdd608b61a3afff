#pragma once
#include <mutex>

#include "amfrt/property_map.h"
#include "amfrt/ref_counted.h"

namespace corvantis::amfrt {

// AMFPropertyStorage over a PropertyMap; safe to call from several threads.
template <typename Base>
class PropertyStorageImpl : public RefCounted<Base> {
 public:
  AMF_RESULT SetProperty(const wchar_t* name, amf::AMFVariantStruct value) override {
    std::lock_guard lock(propertyMutex_);
    return properties_.Set(name, value);
  }
  AMF_RESULT GetProperty(const wchar_t* name, amf::AMFVariantStruct* value) const override {
    std::lock_guard lock(propertyMutex_);
    return properties_.Get(name, value);
  }
  bool HasProperty(const wchar_t* name) const override {
    std::lock_guard lock(propertyMutex_);
    return properties_.Find(name) != nullptr;
  }
  amf::amf_size GetPropertyCount() const override {
    std::lock_guard lock(propertyMutex_);
    return properties_.Count();
  }
  AMF_RESULT Clear() override {
    std::lock_guard lock(propertyMutex_);
    properties_.Clear();
    return AMF_OK;
  }

  // A stored number as INT64; false when absent or not a number.
  bool PropertyAsInt64(const wchar_t* name, amf::amf_int64* value) const {
    std::lock_guard lock(propertyMutex_);
    return ReadInt64(properties_, name, value);
  }

 protected:
  // For readers that look at several values at once; hold PropertyMutex() meanwhile.
  const PropertyMap& Properties() const { return properties_; }
  std::mutex& PropertyMutex() const { return propertyMutex_; }

 private:
  mutable std::mutex propertyMutex_;
  PropertyMap properties_;
};

// AMFData's presentation time and duration on top of the property storage.
template <typename Base>
class DataImpl : public PropertyStorageImpl<Base> {
 public:
  void SetPts(amf::amf_pts pts) override { pts_ = pts; }
  amf::amf_pts GetPts() override { return pts_; }
  void SetDuration(amf::amf_pts duration) override { duration_ = duration; }
  amf::amf_pts GetDuration() override { return duration_; }

 private:
  amf::amf_pts pts_ = 0;
  amf::amf_pts duration_ = 0;
};

}  // namespace corvantis::amfrt
