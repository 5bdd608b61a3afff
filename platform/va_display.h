#pragma once
#include <va/va.h>

#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace corvantis {

// A VA-API display on a DRM render node: the node opened read-write, vaGetDisplayDRM and
// vaInitialize; vaTerminate and close when the object goes. Coded buffers are checked as they are
// mapped: a segment list that claims more bytes than the buffer was made with fails the map
// (VA_STATUS_ERROR_INVALID_BUFFER, said through the error route) instead of sending the reader,
// libavcodec, past the driver's memory.
class VaDisplay {
 public:
  // Where libva's own error and information messages go; nullptr drops them (libva would
  // otherwise print them itself).
  struct MessageRoute {
    VAMessageCallback Error = nullptr;
    VAMessageCallback Info = nullptr;
    void* Context = nullptr;
  };

  // The display, or nothing with the failed step and its error in *error: "cannot open
  // /dev/dri/renderD128: Permission denied" with the group that owns the node, or "no VA driver:
  // vaInitialize: unknown libva error" with what libva said while it looked for one.
  static std::unique_ptr<VaDisplay> Open(const std::string& nodePath, const MessageRoute& route,
                                         std::string* error);
  ~VaDisplay();
  VaDisplay(const VaDisplay&) = delete;
  VaDisplay& operator=(const VaDisplay&) = delete;

  VADisplay Handle() const { return display_; }
  // libva's messages and the coded-buffer complaints go to `route` from now on.
  void RouteMessages(const MessageRoute& route);
  // vaQueryVendorString: the driver's own description, e.g. "Mesa Gallium driver 22.3.6 for AMD
  // Radeon RX 6600 (navi23, ...)"; empty when it gives none.
  std::string VendorString() const;
  // The driver library libva loaded ("/usr/lib/x86_64-linux-gnu/dri/radeonsi_drv_video.so");
  // empty when libva did not say.
  const std::string& DriverPath() const { return driverPath_; }

 private:
  struct CodedBufferGuard;
  VaDisplay(unique_fd node, VADisplay display, std::unique_ptr<CodedBufferGuard> guard,
            std::string driverPath);

  unique_fd node_;
  VADisplay display_;
  std::unique_ptr<CodedBufferGuard> guard_;
  std::string driverPath_;
};

// The kernel driver bound to a DRM node ("amdgpu", "i915"), from sysfs; empty when the path is
// not a character device with a driver.
std::string DrmDriverName(const std::string& nodePath);

}  // namespace corvantis
