#pragma once
// The tests' VA-API driver as libva loads it for an encoder opened on the stand-in render node.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/vaapi_driver/driver_control.h"

extern "C" const char* corvantis_standin_prefix();

namespace corvantis {

// Resets the driver and chooses its personality; names the driver to libva while it lives (the
// variables as they were come back after) and makes a stand-in node in `directory`.
class TestVaDriver {
 public:
  explicit TestVaDriver(const std::string& personality, const std::string& directory = "/tmp/")
      : node_(directory + corvantis_standin_prefix() + "-" + std::to_string(getpid()) + "-" +
              std::to_string(++Counter())) {
    {
      vadriver::Control& control = *corvantis_test_driver();
      std::lock_guard lock(control.mutex);
      control.Reset();
      control.personality = personality;
    }
    ::close(::open(node_.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    Set("LIBVA_DRIVER_NAME", VA_TEST_DRIVER_NAME, &savedName_);
    Set("LIBVA_DRIVERS_PATH", VA_TEST_DRIVERS_PATH, &savedPath_);
  }
  ~TestVaDriver() {
    Restore("LIBVA_DRIVER_NAME", savedName_);
    Restore("LIBVA_DRIVERS_PATH", savedPath_);
    ::unlink(node_.c_str());
  }
  TestVaDriver(const TestVaDriver&) = delete;
  TestVaDriver& operator=(const TestVaDriver&) = delete;

  const std::string& Node() const { return node_; }

  // f(control) under the driver's lock.
  template <class F>
  auto With(F&& f) {
    vadriver::Control& control = *corvantis_test_driver();
    std::lock_guard lock(control.mutex);
    return f(control);
  }
  vadriver::LiveObjects Live() {
    return With([](vadriver::Control& c) { return c.live; });
  }

 private:
  static int& Counter() {
    static int counter = 0;
    return counter;
  }
  static void Set(const char* name, const char* value, std::optional<std::string>* saved) {
    if (const char* old = std::getenv(name)) *saved = old;
    ::setenv(name, value, 1);
  }
  static void Restore(const char* name, const std::optional<std::string>& saved) {
    if (saved)
      ::setenv(name, saved->c_str(), 1);
    else
      ::unsetenv(name);
  }

  std::string node_;
  std::optional<std::string> savedName_, savedPath_;
};

}  // namespace corvantis
