#pragma once
#include <string>
#include <vector>

#include "amf/api/variant.h"

namespace corvantis::amfrt {

// Named values. Entries keep their slot when cleared so that setting the same names again (as
// happens for every frame) allocates nothing. Not synchronised.
class PropertyMap {
 public:
  PropertyMap() = default;
  PropertyMap(const PropertyMap&) = delete;
  PropertyMap& operator=(const PropertyMap&) = delete;
  ~PropertyMap();

  // Stores a copy of value (strings duplicated, interfaces acquired).
  AMF_RESULT Set(const wchar_t* name, const amf::AMFVariantStruct& value);
  // Copies the value into *value (cleared first); AMF_NOT_FOUND when absent.
  AMF_RESULT Get(const wchar_t* name, amf::AMFVariantStruct* value) const;
  // The stored value, or nullptr when absent; valid until the next change.
  const amf::AMFVariantStruct* Find(const wchar_t* name) const;
  std::size_t Count() const;
  void Clear();

 private:
  struct Entry {
    std::wstring Name;
    amf::AMFVariantStruct Value;
    bool Present;
  };
  Entry* Slot(const wchar_t* name);
  const Entry* Slot(const wchar_t* name) const;

  std::vector<Entry> entries_;
};

// Reads a stored number as INT64 (BOOL, DOUBLE and numeric strings convert); false when absent
// or not a number.
bool ReadInt64(const PropertyMap& map, const wchar_t* name, amf::amf_int64* value);

}  // namespace corvantis::amfrt
