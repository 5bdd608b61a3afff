#include "amfrt/property_map.h"

#include <cwchar>

namespace corvantis::amfrt {

PropertyMap::~PropertyMap() {
  for (Entry& entry : entries_) amf::AMFVariantClear(&entry.Value);
}

PropertyMap::Entry* PropertyMap::Slot(const wchar_t* name) {
  for (Entry& entry : entries_)
    if (std::wcscmp(entry.Name.c_str(), name) == 0) return &entry;
  return nullptr;
}

const PropertyMap::Entry* PropertyMap::Slot(const wchar_t* name) const {
  return const_cast<PropertyMap*>(this)->Slot(name);
}

AMF_RESULT PropertyMap::Set(const wchar_t* name, const amf::AMFVariantStruct& value) {
  if (name == nullptr) return AMF_INVALID_POINTER;
  Entry* entry = Slot(name);
  if (entry == nullptr) {
    entries_.push_back(Entry{name, {}, false});
    entry = &entries_.back();
    amf::AMFVariantInit(&entry->Value);
  }
  const AMF_RESULT result = amf::AMFVariantCopy(&entry->Value, &value);
  entry->Present = result == AMF_OK;
  return result;
}

AMF_RESULT PropertyMap::Get(const wchar_t* name, amf::AMFVariantStruct* value) const {
  if (name == nullptr || value == nullptr) return AMF_INVALID_POINTER;
  const amf::AMFVariantStruct* found = Find(name);
  if (found == nullptr) return AMF_NOT_FOUND;
  return amf::AMFVariantCopy(value, found);
}

const amf::AMFVariantStruct* PropertyMap::Find(const wchar_t* name) const {
  if (name == nullptr) return nullptr;
  const Entry* entry = Slot(name);
  return entry != nullptr && entry->Present ? &entry->Value : nullptr;
}

std::size_t PropertyMap::Count() const {
  std::size_t count = 0;
  for (const Entry& entry : entries_) count += entry.Present ? 1 : 0;
  return count;
}

void PropertyMap::Clear() {
  for (Entry& entry : entries_) {
    amf::AMFVariantClear(&entry.Value);
    entry.Present = false;
  }
}

bool ReadInt64(const PropertyMap& map, const wchar_t* name, amf::amf_int64* value) {
  const amf::AMFVariantStruct* stored = map.Find(name);
  if (stored == nullptr) return false;
  if (stored->type == amf::AMF_VARIANT_INT64) {
    *value = stored->int64Value;
    return true;
  }
  amf::AMFVariantStruct converted;
  amf::AMFVariantInit(&converted);
  const bool ok = amf::AMFVariantChangeType(&converted, stored, amf::AMF_VARIANT_INT64) == AMF_OK;
  if (ok) *value = converted.int64Value;
  amf::AMFVariantClear(&converted);
  return ok;
}

}  // namespace corvantis::amfrt
