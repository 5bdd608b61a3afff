#pragma once
#include <atomic>

#include "amf/api/interfaces.h"

namespace corvantis::amfrt {

// The process-wide AMFDebug: switches only. With asserts enabled, misuse of the runtime's
// objects (null arguments, calls in the wrong state) is traced as an error.
class Debug final : public amf::AMFDebug {
 public:
  static Debug& Instance();
  Debug() = default;
  ~Debug() override = default;

  void EnablePerformanceMonitor(bool enable) override { monitor_ = enable; }
  bool PerformanceMonitorEnabled() override { return monitor_; }
  void AssertsEnable(bool enable) override { asserts_ = enable; }
  bool AssertsEnabled() override { return asserts_; }

 private:
  std::atomic<bool> monitor_{false};
  std::atomic<bool> asserts_{false};
};

// Reports misuse when asserts are enabled and passes the result through.
AMF_RESULT Misuse(AMF_RESULT result, const wchar_t* scope, const wchar_t* what);

}  // namespace corvantis::amfrt
