#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <va/va_backend.h>
#include <va/va_drm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/va_display.h"

namespace corvantis {

namespace {

void Drop(void*, const char*) {}

// A segment list longer than this is taken to be one that does not end.
constexpr int kMaxCodedSegments = 4096;

// What libva says while vaInitialize looks for a driver, passed on to the caller's route: its
// words name the driver it tried and why that failed, where vaErrorStr says only "unknown libva
// error".
struct InitMessages {
  VaDisplay::MessageRoute Route;
  std::vector<std::string> Lines;
  std::string TriedPath;

  static std::string Trimmed(const char* message) {
    std::string line = message != nullptr ? message : "";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
  }
  static void Error(void* context, const char* message) {
    auto* self = static_cast<InitMessages*>(context);
    if (self->Route.Error != nullptr) self->Route.Error(self->Route.Context, message);
    self->Lines.push_back(Trimmed(message));
  }
  static void Info(void* context, const char* message) {
    auto* self = static_cast<InitMessages*>(context);
    if (self->Route.Info != nullptr) self->Route.Info(self->Route.Context, message);
    std::string line = Trimmed(message);
    constexpr char kTrying[] = "Trying to open ";
    if (line.rfind(kTrying, 0) == 0) self->TriedPath = line.substr(sizeof kTrying - 1);
    if (line.rfind("VA-API version", 0) != 0) self->Lines.push_back(std::move(line));
  }
  std::string Joined() const {
    std::string text;
    for (const std::string& line : Lines)
      if (!line.empty()) text += (text.empty() ? "" : "; ") + line;
    return text;
  }
};

// "group render owns it" for a node the user may not open.
std::string OwningGroup(const std::string& nodePath) {
  struct stat status {};
  if (::stat(nodePath.c_str(), &status) != 0) return {};
  std::vector<char> buffer(16384);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr)
    return std::string(" (the node belongs to group ") + found->gr_name +
           "; add the user to it and log in again)";
  return " (the node belongs to group id " + std::to_string(status.st_gid) + ")";
}

}  // namespace

// The driver's own buffer entries, wrapped so that the size of every coded buffer is known when
// libva hands a mapped segment list to the caller.
struct VaDisplay::CodedBufferGuard {
  using CreateFn = VAStatus (*)(VADriverContextP, VAContextID, VABufferType, unsigned, unsigned,
                                void*, VABufferID*);
  using MapFn = VAStatus (*)(VADriverContextP, VABufferID, void**);
  using UnmapFn = VAStatus (*)(VADriverContextP, VABufferID);
  using DestroyFn = VAStatus (*)(VADriverContextP, VABufferID);

  VADriverContextP Driver = nullptr;
  CreateFn Create = nullptr;
  MapFn Map = nullptr;
  UnmapFn Unmap = nullptr;
  DestroyFn Destroy = nullptr;
  MessageRoute Route;
  std::mutex Mutex;
  std::map<VABufferID, std::size_t> Capacities;  // coded buffers alive and the bytes each holds

  // The guard of each display's driver context, for the wrappers, which get no other context.
  static std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::map<VADriverContextP, CodedBufferGuard*>& Registry() {
    static std::map<VADriverContextP, CodedBufferGuard*> registry;
    return registry;
  }
  static CodedBufferGuard* Of(VADriverContextP driver) {
    std::lock_guard lock(RegistryMutex());
    const auto found = Registry().find(driver);
    return found != Registry().end() ? found->second : nullptr;
  }

  static VAStatus CreateBuffer(VADriverContextP ctx, VAContextID context, VABufferType type,
                               unsigned size, unsigned elements, void* data, VABufferID* id) {
    CodedBufferGuard* guard = Of(ctx);
    if (guard == nullptr) return VA_STATUS_ERROR_INVALID_DISPLAY;
    const VAStatus status = guard->Create(ctx, context, type, size, elements, data, id);
    if (status == VA_STATUS_SUCCESS && type == VAEncCodedBufferType) {
      std::lock_guard lock(guard->Mutex);
      guard->Capacities[*id] = static_cast<std::size_t>(size) * elements;
    }
    return status;
  }

  static VAStatus DestroyBuffer(VADriverContextP ctx, VABufferID id) {
    CodedBufferGuard* guard = Of(ctx);
    if (guard == nullptr) return VA_STATUS_ERROR_INVALID_DISPLAY;
    const VAStatus status = guard->Destroy(ctx, id);
    std::lock_guard lock(guard->Mutex);
    guard->Capacities.erase(id);
    return status;
  }

  static VAStatus MapBuffer(VADriverContextP ctx, VABufferID id, void** address) {
    CodedBufferGuard* guard = Of(ctx);
    if (guard == nullptr) return VA_STATUS_ERROR_INVALID_DISPLAY;
    const VAStatus status = guard->Map(ctx, id, address);
    if (status != VA_STATUS_SUCCESS) return status;
    std::size_t capacity;
    {
      std::lock_guard lock(guard->Mutex);
      const auto found = guard->Capacities.find(id);
      if (found == guard->Capacities.end()) return status;
      capacity = found->second;
    }
    std::size_t total = 0;
    int segments = 0;
    const char* fault = nullptr;
    for (auto* s = static_cast<const VACodedBufferSegment*>(*address);
         s != nullptr && fault == nullptr; s = static_cast<const VACodedBufferSegment*>(s->next)) {
      if (++segments > kMaxCodedSegments)
        fault = "a segment list that does not end";
      else if (s->size > 0 && s->buf == nullptr)
        fault = "a segment without data";
      else if (s->size > capacity - total)
        fault = "segments claiming more bytes than the buffer holds";
      else
        total += s->size;
    }
    if (fault == nullptr) return status;
    guard->Unmap(ctx, id);
    *address = nullptr;
    char message[160];
    std::snprintf(message, sizeof message, "coded buffer %#x of %zu bytes came back with %s\n", id,
                  capacity, fault);
    MessageRoute route;
    {
      std::lock_guard lock(guard->Mutex);
      route = guard->Route;
    }
    if (route.Error != nullptr) route.Error(route.Context, message);
    return VA_STATUS_ERROR_INVALID_BUFFER;
  }
};

VaDisplay::VaDisplay(unique_fd node, VADisplay display, std::unique_ptr<CodedBufferGuard> guard,
                     std::string driverPath)
    : node_(std::move(node)),
      display_(display),
      guard_(std::move(guard)),
      driverPath_(std::move(driverPath)) {}

std::unique_ptr<VaDisplay> VaDisplay::Open(const std::string& nodePath, const MessageRoute& route,
                                           std::string* error) {
  unique_fd node(::open(nodePath.c_str(), O_RDWR | O_CLOEXEC));
  if (!node) {
    const int code = errno;
    *error = "cannot open " + nodePath + ": " + std::strerror(code);
    if (code == EACCES || code == EPERM) *error += OwningGroup(nodePath);
    return nullptr;
  }
  VADisplay display = vaGetDisplayDRM(node.get());
  if (display == nullptr) {
    *error = "vaGetDisplayDRM: " + nodePath + " is not a DRM device";
    return nullptr;
  }
  InitMessages messages{route, {}, {}};
  vaSetErrorCallback(display, InitMessages::Error, &messages);
  vaSetInfoCallback(display, InitMessages::Info, &messages);
  int major = 0, minor = 0;
  const VAStatus status = vaInitialize(display, &major, &minor);
  vaSetErrorCallback(display, route.Error != nullptr ? route.Error : Drop, route.Context);
  vaSetInfoCallback(display, route.Info != nullptr ? route.Info : Drop, route.Context);
  if (status != VA_STATUS_SUCCESS) {
    *error = std::string("no VA driver: vaInitialize: ") + vaErrorStr(status);
    if (const std::string said = messages.Joined(); !said.empty())
      *error += " (libva: " + said + ")";
    vaTerminate(display);  // frees what vaGetDisplayDRM made
    return nullptr;
  }
  auto guard = std::make_unique<CodedBufferGuard>();
  VADriverContextP driver = static_cast<VADisplayContextP>(display)->pDriverContext;
  VADriverVTable* vtable = driver->vtable;
  guard->Driver = driver;
  guard->Create = vtable->vaCreateBuffer;
  guard->Map = vtable->vaMapBuffer;
  guard->Unmap = vtable->vaUnmapBuffer;
  guard->Destroy = vtable->vaDestroyBuffer;
  guard->Route = route;
  if (guard->Create != nullptr && guard->Map != nullptr && guard->Unmap != nullptr &&
      guard->Destroy != nullptr) {
    {
      std::lock_guard lock(CodedBufferGuard::RegistryMutex());
      CodedBufferGuard::Registry()[driver] = guard.get();
    }
    vtable->vaCreateBuffer = CodedBufferGuard::CreateBuffer;
    vtable->vaMapBuffer = CodedBufferGuard::MapBuffer;
    vtable->vaDestroyBuffer = CodedBufferGuard::DestroyBuffer;
  } else {
    guard.reset();  // a driver without buffers gives nothing to map
  }
  return std::unique_ptr<VaDisplay>(
      new VaDisplay(std::move(node), display, std::move(guard), std::move(messages.TriedPath)));
}

VaDisplay::~VaDisplay() {
  vaTerminate(display_);
  if (guard_) {
    std::lock_guard lock(CodedBufferGuard::RegistryMutex());
    CodedBufferGuard::Registry().erase(guard_->Driver);
  }
}

void VaDisplay::RouteMessages(const MessageRoute& route) {
  vaSetErrorCallback(display_, route.Error != nullptr ? route.Error : Drop, route.Context);
  vaSetInfoCallback(display_, route.Info != nullptr ? route.Info : Drop, route.Context);
  if (guard_) {
    std::lock_guard lock(guard_->Mutex);
    guard_->Route = route;
  }
}

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

}  // namespace corvantis
