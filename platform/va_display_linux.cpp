#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <va/va_drm.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/va_display.h"

namespace {

void Drop(void*, const char*) {}

}  // namespace

std::unique_ptr<VaDisplay> VaDisplay::Open(const std::string& nodePath, const MessageRoute& route,
                                           std::string* error) {
  unique_fd node(::open(nodePath.c_str(), O_RDWR | O_CLOEXEC));
  if (!node) {
    *error = "cannot open " + nodePath + ": " + std::strerror(errno);
    return nullptr;
  }
  VADisplay display = vaGetDisplayDRM(node.get());
  if (display == nullptr) {
    *error = "vaGetDisplayDRM: " + nodePath + " is not a DRM device";
    return nullptr;
  }
  vaSetErrorCallback(display, route.error != nullptr ? route.error : Drop, route.context);
  vaSetInfoCallback(display, route.info != nullptr ? route.info : Drop, route.context);
  int major = 0, minor = 0;
  const VAStatus status = vaInitialize(display, &major, &minor);
  if (status != VA_STATUS_SUCCESS) {
    *error = std::string("vaInitialize: ") + vaErrorStr(status);
    vaTerminate(display);  // frees what vaGetDisplayDRM made
    return nullptr;
  }
  return std::unique_ptr<VaDisplay>(new VaDisplay(std::move(node), display));
}

VaDisplay::~VaDisplay() { vaTerminate(display_); }

std::string VaDisplay::VendorString() const {
  const char* vendor = vaQueryVendorString(display_);
  return vendor != nullptr ? vendor : "";
}

std::string DrmDriverName(const std::string& nodePath) {
  struct stat status {};
  if (::stat(nodePath.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) return {};
  const std::string link = "/sys/dev/char/" + std::to_string(major(status.st_rdev)) + ":" +
                           std::to_string(minor(status.st_rdev)) + "/device/driver";
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::read_symlink(link, ec);
  return ec ? std::string() : target.filename().string();
}
