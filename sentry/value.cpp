#include "sentry/value.h"

#include <utility>

namespace corvantis::sentry {

sentry_value_t NewValue(Json json) {
  auto* node = new sentry_value_node;
  node->Json = std::move(json);
  return sentry_value_t{node};
}

Json TakeJson(sentry_value_t value) {
  sentry_value_node* node = value._node;
  if (node == nullptr) return Json();
  // The last holder may take the content instead of copying it.
  if (node->Refs.load(std::memory_order_acquire) == 1) {
    Json json = std::move(node->Json);
    delete node;
    return json;
  }
  Json json = node->Json;
  sentry_value_decref(value);
  return json;
}

const Json* PeekJson(sentry_value_t value) {
  return value._node == nullptr ? nullptr : &value._node->Json;
}

}  // namespace corvantis::sentry

using corvantis::sentry::Json;
using corvantis::sentry::NewValue;
using corvantis::sentry::TakeJson;

extern "C" {

sentry_value_t sentry_value_new_null(void) { return sentry_value_t{nullptr}; }

sentry_value_t sentry_value_new_int32(int32_t value) { return NewValue(value); }

sentry_value_t sentry_value_new_string(const char* value) {
  return value == nullptr ? sentry_value_new_null() : NewValue(value);
}

sentry_value_t sentry_value_new_list(void) { return NewValue(Json::array()); }

sentry_value_t sentry_value_new_object(void) { return NewValue(Json::object()); }

void sentry_value_incref(sentry_value_t value) {
  if (value._node != nullptr) value._node->Refs.fetch_add(1, std::memory_order_relaxed);
}

void sentry_value_decref(sentry_value_t value) {
  if (value._node != nullptr && value._node->Refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete value._node;
  }
}

int sentry_value_is_null(sentry_value_t value) {
  return value._node == nullptr || value._node->Json.is_null() ? 1 : 0;
}

int sentry_value_set_by_key(sentry_value_t value, const char* k, sentry_value_t v) {
  // A value cannot contain itself; the caller keeps its reference then.
  if (v._node != nullptr && v._node == value._node) return 1;
  if (value._node == nullptr || !value._node->Json.is_object() || k == nullptr) {
    sentry_value_decref(v);
    return 1;
  }
  value._node->Json[k] = TakeJson(v);
  return 0;
}

int sentry_value_append(sentry_value_t value, sentry_value_t v) {
  if (v._node != nullptr && v._node == value._node) return 1;
  if (value._node == nullptr || !value._node->Json.is_array()) {
    sentry_value_decref(v);
    return 1;
  }
  value._node->Json.push_back(TakeJson(v));
  return 0;
}

}  // extern "C"
