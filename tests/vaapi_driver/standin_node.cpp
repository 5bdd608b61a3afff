// libdrm's node-type answer for the tests' stand-in render node: a regular file whose name begins
// with corvantis_standin_prefix() is a render node. Every other descriptor gets libdrm's own
// answer. Linked into a test executable, it comes before libdrm in the global symbol scope, as a
// preloaded library would.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

extern "C" __attribute__((visibility("default"))) const char* corvantis_standin_prefix() {
  return "va-standin";
}

extern "C" __attribute__((visibility("default"))) int drmGetNodeTypeFromFd(int fd) {
  constexpr int kRenderNode = 2;  // DRM_NODE_RENDER
  struct stat status {};
  char link[64];
  char path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = ::readlink(link, path, sizeof path - 1);
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && length > 0) {
    path[length] = '\0';
    const char* slash = std::strrchr(path, '/');
    const char* name = slash != nullptr ? slash + 1 : path;
    if (std::strncmp(name, corvantis_standin_prefix(), std::strlen(corvantis_standin_prefix())) ==
        0)
      return kRenderNode;
  }
  using Function = int (*)(int);
  static const auto libdrm = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "drmGetNodeTypeFromFd"));
  return libdrm != nullptr ? libdrm(fd) : -1;
}
