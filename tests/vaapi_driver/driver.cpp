// A VA-API driver for the tests, loaded by libva as <name>_drv_video.so. It answers as the chosen
// personality, keeps one table per kind of object, encodes a picture into the headers the
// personality's driver would write (the packed ones it was given, or its firmware's own) and a
// slice payload of its own (docs/encoder-runtime.md), converts BGRA to NV12 in its video processor
// with the personality's matrix, records what it receives and fails where told to. Entries it does
// not have return VA_STATUS_ERROR_UNIMPLEMENTED and are recorded by name.
#include <errno.h>
#include <va/va.h>
#include <va/va_backend.h>
#include <va/va_vpp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "tests/vaapi_driver/driver_control.h"
#include "tests/vaapi_driver/headers.h"
#include "tests/vaapi_driver/personalities.h"

namespace corvantis::vadriver {
namespace {

Control& TheControl() {
  static Control control;
  return control;
}

// Each kind of object has its own range of ids, so that an id of the wrong kind is refused.
constexpr VAGenericID kConfigIds = 0x10000000, kContextIds = 0x20000000, kSurfaceIds = 0x04000000,
                      kBufferIds = 0x08000000, kImageIds = 0x0C000000;

bool IsRgb(std::uint32_t fourcc) {
  return fourcc == VA_FOURCC_BGRA || fourcc == VA_FOURCC_BGRX || fourcc == VA_FOURCC_RGBA ||
         fourcc == VA_FOURCC_RGBX || fourcc == VA_FOURCC_ARGB;
}

int Align(int value, int to) { return (value + to - 1) / to * to; }

// Where the pixels of a surface or image of one format and size lie.
struct Layout {
  std::uint32_t fourcc = 0;
  int width = 0, height = 0;
  std::uint32_t planes = 0;
  std::uint32_t pitches[3] = {};
  std::uint32_t offsets[3] = {};
  std::size_t size = 0;
};

bool LayoutOf(std::uint32_t fourcc, int width, int height, Layout* out) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
  Layout l;
  l.fourcc = fourcc;
  l.width = width;
  l.height = height;
  const int rows = Align(height, 16);
  if (fourcc == VA_FOURCC_NV12) {
    l.planes = 2;
    l.pitches[0] = l.pitches[1] = static_cast<std::uint32_t>(Align(width, 64));
    l.offsets[1] = l.pitches[0] * static_cast<std::uint32_t>(rows);
    l.size = l.offsets[1] + l.pitches[1] * static_cast<std::size_t>(rows / 2);
  } else if (IsRgb(fourcc)) {
    l.planes = 1;
    l.pitches[0] = static_cast<std::uint32_t>(Align(4 * width, 64));
    l.size = static_cast<std::size_t>(l.pitches[0]) * rows;
  } else {
    return false;
  }
  *out = l;
  return true;
}

using Storage = std::shared_ptr<std::vector<std::uint8_t>>;

// Copies a width x height rectangle between two pictures of one format.
void CopyRect(const Layout& from, const std::uint8_t* src, int sx, int sy, const Layout& to,
              std::uint8_t* dst, int dx, int dy, int width, int height) {
  if (IsRgb(from.fourcc)) {
    for (int y = 0; y < height; ++y)
      std::memcpy(
          dst + to.offsets[0] + static_cast<std::size_t>(dy + y) * to.pitches[0] + 4 * dx,
          src + from.offsets[0] + static_cast<std::size_t>(sy + y) * from.pitches[0] + 4 * sx,
          4 * static_cast<std::size_t>(width));
    return;
  }
  for (int y = 0; y < height; ++y)
    std::memcpy(dst + to.offsets[0] + static_cast<std::size_t>(dy + y) * to.pitches[0] + dx,
                src + from.offsets[0] + static_cast<std::size_t>(sy + y) * from.pitches[0],
                static_cast<std::size_t>(width));
  const int chromaX = sx / 2 * 2, chromaDx = dx / 2 * 2,
            chromaWidth = Align(width + sx - chromaX, 2);
  for (int y = sy / 2; y < (sy + height + 1) / 2; ++y)
    std::memcpy(dst + to.offsets[1] +
                    static_cast<std::size_t>(y - sy / 2 + dy / 2) * to.pitches[1] + chromaDx,
                src + from.offsets[1] + static_cast<std::size_t>(y) * from.pitches[1] + chromaX,
                static_cast<std::size_t>(std::min(chromaWidth, Align(to.width, 2) - chromaDx)));
}

bool Inside(const Layout& l, int x, int y, unsigned width, unsigned height) {
  return x >= 0 && y >= 0 && static_cast<long long>(x) + width <= l.width &&
         static_cast<long long>(y) + height <= l.height;
}

struct ConfigObject {
  VAProfile profile;
  VAEntrypoint entrypoint;
  std::vector<VAConfigAttrib> attributes;
  std::uint32_t rateControl = 0;  // 0 when none was asked for
};

struct SurfaceObject {
  Layout layout;
  Storage storage;
  bool interlaced = false;
};

struct ContextObject {
  VAConfigID config = VA_INVALID_ID;
  int width = 0, height = 0;
  bool inPicture = false;
  VASurfaceID target = VA_INVALID_SURFACE;
  std::vector<Buffer> pending;
  std::uint32_t packedType = 0;  // of the last packed header parameter buffer
  HeaderInput headers;           // what the driver's header writer holds across pictures
};

struct BufferObject {
  VABufferType type;
  Storage storage;
  bool ofImage = false;
  unsigned size = 0, elements = 1;  // as created, for vaBufferInfo
  std::size_t codedSize = 0;        // what a coded buffer's segment says it holds
  VACodedBufferSegment segment{};
};

struct Driver {
  const Personality* personality;
  std::map<VAGenericID, ConfigObject> configs;
  std::map<VAGenericID, ContextObject> contexts;
  std::map<VAGenericID, SurfaceObject> surfaces;
  std::map<VAGenericID, BufferObject> buffers;
  std::map<VAGenericID, VAImage> images;
  VAGenericID next = 1;
  std::string vendor;

  VAGenericID NewId(VAGenericID base) { return base + next++; }
  const ProfileEntrypoints* Profile(VAProfile profile) const {
    for (const ProfileEntrypoints& p : personality->profiles)
      if (p.profile == profile) return &p;
    return nullptr;
  }
  bool Has(VAProfile profile, VAEntrypoint entrypoint) const {
    const ProfileEntrypoints* p = Profile(profile);
    return p != nullptr && std::find(p->entrypoints.begin(), p->entrypoints.end(), entrypoint) !=
                               p->entrypoints.end();
  }
};

template <class Map>
auto* Find(Map& map, VAGenericID id) {
  const auto found = map.find(id);
  return found != map.end() ? &found->second : nullptr;
}

// Destroys object `id` of `map`'s kind, counted in `live`; `unknown` when there is none.
template <class Map>
VAStatus Erase(Map& map, VAGenericID id, int& live, VAStatus unknown) {
  if (map.erase(id) == 0) return unknown;
  --live;
  return VA_STATUS_SUCCESS;
}

// Every entry starts here: under the driver's lock, counted, failing when the plan says so.
struct Entry {
  std::unique_lock<std::mutex> lock;
  VAStatus fault;
  Control& control;
  Driver& driver;
};

// Counts a call of `name` in `c` and gives its number, from 1; without an allocation once the
// name is known, so that a driver told to return at once costs next to nothing.
int Count(Control& c, std::string_view name) {
  auto found = c.calls.find(name);
  if (found == c.calls.end()) found = c.calls.emplace(std::string(name), 0).first;
  return ++found->second;
}

Entry Enter(VADriverContextP ctx, const char* name) {
  Control& c = TheControl();
  std::unique_lock lock(c.mutex);
  const int call = Count(c, name);
  VAStatus fault = VA_STATUS_SUCCESS;
  for (const EntryFault& f : c.faults.entries)
    if (f.entry == name && f.call == call) fault = f.status;
  return Entry{std::move(lock), fault, c, *static_cast<Driver*>(ctx->pDriverData)};
}

bool IsEncode(VAEntrypoint e) { return e == VAEntrypointEncSlice || e == VAEntrypointEncSliceLP; }
bool IsHevc(VAProfile p) { return p == VAProfileHEVCMain || p == VAProfileHEVCMain10; }

// ---- configurations

VAStatus QueryConfigProfiles(VADriverContextP ctx, VAProfile* list, int* count) {
  Entry e = Enter(ctx, "vaQueryConfigProfiles");
  if (e.fault) return e.fault;
  int n = 0;
  for (const ProfileEntrypoints& p : e.driver.personality->profiles) list[n++] = p.profile;
  *count = n;
  return VA_STATUS_SUCCESS;
}

VAStatus QueryConfigEntrypoints(VADriverContextP ctx, VAProfile profile, VAEntrypoint* list,
                                int* count) {
  Entry e = Enter(ctx, "vaQueryConfigEntrypoints");
  if (e.fault) return e.fault;
  const ProfileEntrypoints* p = e.driver.Profile(profile);
  if (p == nullptr) return VA_STATUS_ERROR_UNSUPPORTED_PROFILE;
  std::copy(p->entrypoints.begin(), p->entrypoints.end(), list);
  *count = static_cast<int>(p->entrypoints.size());
  return VA_STATUS_SUCCESS;
}

std::uint32_t AttributeValue(const Personality& p, VAProfile profile, VAEntrypoint entrypoint,
                             VAConfigAttribType type) {
  if (entrypoint == VAEntrypointVideoProc)
    return type == VAConfigAttribRTFormat
               ? VA_RT_FORMAT_YUV420 | VA_RT_FORMAT_YUV420_10 | VA_RT_FORMAT_RGB32
               : VA_ATTRIB_NOT_SUPPORTED;
  if (!IsEncode(entrypoint))
    return type == VAConfigAttribRTFormat ? VA_RT_FORMAT_YUV420 : VA_ATTRIB_NOT_SUPPORTED;
  return p.Attribute(profile, type);
}

// config.c vlVaCreateConfig: only the render-target format on a decoder or the processor; on an
// encoder exactly one rate control, packed headers no more than the codec reports, and any other
// attribute taken without a look.
VAStatus MesaConfigCheck(const Personality& p, VAProfile profile, VAEntrypoint entrypoint,
                         const VAConfigAttrib& a) {
  if (a.type == VAConfigAttribRTFormat)
    return (a.value & AttributeValue(p, profile, entrypoint, a.type)) != 0
               ? VA_STATUS_SUCCESS
               : VA_STATUS_ERROR_UNSUPPORTED_RT_FORMAT;
  if (!IsEncode(entrypoint)) return VA_STATUS_ERROR_INVALID_VALUE;
  if (a.type == VAConfigAttribRateControl)
    return a.value == VA_RC_CBR || a.value == VA_RC_VBR || a.value == VA_RC_CQP
               ? VA_STATUS_SUCCESS
               : VA_STATUS_ERROR_INVALID_VALUE;
  if (a.type == VAConfigAttribEncPackedHeaders)
    return a.value > 1 || (a.value != 0 && !IsHevc(profile)) ? VA_STATUS_ERROR_INVALID_VALUE
                                                             : VA_STATUS_SUCCESS;
  return VA_STATUS_SUCCESS;
}

VAStatus GetConfigAttributes(VADriverContextP ctx, VAProfile profile, VAEntrypoint entrypoint,
                             VAConfigAttrib* list, int count) {
  Entry e = Enter(ctx, "vaGetConfigAttributes");
  if (e.fault) return e.fault;
  if (e.driver.Profile(profile) == nullptr) return VA_STATUS_ERROR_UNSUPPORTED_PROFILE;
  if (!e.driver.Has(profile, entrypoint)) return VA_STATUS_ERROR_UNSUPPORTED_ENTRYPOINT;
  for (int i = 0; i < count; ++i)
    list[i].value = AttributeValue(*e.driver.personality, profile, entrypoint, list[i].type);
  return VA_STATUS_SUCCESS;
}

VAStatus CreateConfig(VADriverContextP ctx, VAProfile profile, VAEntrypoint entrypoint,
                      VAConfigAttrib* list, int count, VAConfigID* id) {
  Entry e = Enter(ctx, "vaCreateConfig");
  if (e.fault) return e.fault;
  if (e.driver.Profile(profile) == nullptr) return VA_STATUS_ERROR_UNSUPPORTED_PROFILE;
  if (!e.driver.Has(profile, entrypoint)) return VA_STATUS_ERROR_UNSUPPORTED_ENTRYPOINT;
  ConfigObject config{profile, entrypoint, {}};
  const Personality& p = *e.driver.personality;
  for (int i = 0; p.mesaConfig && i < count; ++i) {
    if (const VAStatus s = MesaConfigCheck(p, profile, entrypoint, list[i])) return s;
    config.attributes.push_back(list[i]);
  }
  for (int i = 0; !p.mesaConfig && i < count; ++i) {
    const std::uint32_t offered =
        AttributeValue(*e.driver.personality, profile, entrypoint, list[i].type);
    if (offered == VA_ATTRIB_NOT_SUPPORTED) return VA_STATUS_ERROR_ATTR_NOT_SUPPORTED;
    const bool oneBit = (list[i].value & (list[i].value - 1)) == 0;
    switch (list[i].type) {
      case VAConfigAttribRTFormat:
      case VAConfigAttribEncPackedHeaders:
        if ((list[i].value & ~offered) != 0) return VA_STATUS_ERROR_INVALID_VALUE;
        break;
      case VAConfigAttribRateControl:
        if ((list[i].value & ~offered) != 0 || !oneBit) return VA_STATUS_ERROR_INVALID_VALUE;
        break;
      default: break;
    }
    config.attributes.push_back(list[i]);
  }
  for (const VAConfigAttrib& a : config.attributes)
    if (a.type == VAConfigAttribRateControl) config.rateControl = a.value;
  *id = e.driver.NewId(kConfigIds);
  e.driver.configs.emplace(*id, config);
  ++e.control.live.configs;
  e.control.record.configs.push_back(Config{profile, entrypoint, config.attributes});
  return VA_STATUS_SUCCESS;
}

VAStatus DestroyConfig(VADriverContextP ctx, VAConfigID id) {
  Entry e = Enter(ctx, "vaDestroyConfig");
  return e.fault
             ? e.fault
             : Erase(e.driver.configs, id, e.control.live.configs, VA_STATUS_ERROR_INVALID_CONFIG);
}

VAStatus QueryConfigAttributes(VADriverContextP ctx, VAConfigID id, VAProfile* profile,
                               VAEntrypoint* entrypoint, VAConfigAttrib* list, int* count) {
  Entry e = Enter(ctx, "vaQueryConfigAttributes");
  if (e.fault) return e.fault;
  const ConfigObject* config = Find(e.driver.configs, id);
  if (config == nullptr) return VA_STATUS_ERROR_INVALID_CONFIG;
  *profile = config->profile;
  *entrypoint = config->entrypoint;
  if (e.driver.personality->mesaConfig) {
    // vlVaQueryConfigAttributes: the render-target format alone.
    list[0] = {VAConfigAttribRTFormat, AttributeValue(*e.driver.personality, config->profile,
                                                      config->entrypoint, VAConfigAttribRTFormat)};
    for (const VAConfigAttrib& a : config->attributes)
      if (a.type == VAConfigAttribRTFormat) list[0].value = a.value;
    *count = 1;
    return VA_STATUS_SUCCESS;
  }
  std::copy(config->attributes.begin(), config->attributes.end(), list);
  *count = static_cast<int>(config->attributes.size());
  return VA_STATUS_SUCCESS;
}

// ---- surfaces

VASurfaceAttrib IntegerAttribute(VASurfaceAttribType type, int value, std::uint32_t flags) {
  VASurfaceAttrib a{};
  a.type = type;
  a.flags = flags;
  a.value.type = VAGenericValueTypeInteger;
  a.value.value.i = value;
  return a;
}

VAStatus QuerySurfaceAttributes(VADriverContextP ctx, VAConfigID id, VASurfaceAttrib* list,
                                unsigned* count) {
  Entry e = Enter(ctx, "vaQuerySurfaceAttributes");
  if (e.fault) return e.fault;
  const ConfigObject* config = Find(e.driver.configs, id);
  if (config == nullptr) return VA_STATUS_ERROR_INVALID_CONFIG;
  const Personality& p = *e.driver.personality;
  std::vector<VASurfaceAttrib> attributes;
  const std::uint32_t both = VA_SURFACE_ATTRIB_GETTABLE | VA_SURFACE_ATTRIB_SETTABLE;
  const bool processor = config->entrypoint == VAEntrypointVideoProc;
  const std::vector<std::uint32_t> formats =
      processor ? p.processorFormats
                : std::vector<std::uint32_t>(
                      1, config->profile == VAProfileHEVCMain10 ? VA_FOURCC_P010 : VA_FOURCC_NV12);
  for (std::uint32_t fourcc : formats)
    attributes.push_back(
        IntegerAttribute(VASurfaceAttribPixelFormat, static_cast<int>(fourcc), both));
  attributes.push_back(IntegerAttribute(VASurfaceAttribMaxWidth, processor ? 16384 : p.maxWidth,
                                        VA_SURFACE_ATTRIB_GETTABLE));
  attributes.push_back(IntegerAttribute(VASurfaceAttribMaxHeight, processor ? 16384 : p.maxHeight,
                                        VA_SURFACE_ATTRIB_GETTABLE));
  attributes.push_back(
      IntegerAttribute(VASurfaceAttribMemoryType, VA_SURFACE_ATTRIB_MEM_TYPE_VA, both));
  if (list == nullptr) {
    *count = static_cast<unsigned>(attributes.size());
    return VA_STATUS_SUCCESS;
  }
  if (*count < attributes.size()) {
    *count = static_cast<unsigned>(attributes.size());
    return VA_STATUS_ERROR_MAX_NUM_EXCEEDED;
  }
  std::copy(attributes.begin(), attributes.end(), list);
  *count = static_cast<unsigned>(attributes.size());
  return VA_STATUS_SUCCESS;
}

VAStatus CreateSurfaces2(VADriverContextP ctx, unsigned format, unsigned width, unsigned height,
                         VASurfaceID* surfaces, unsigned count, VASurfaceAttrib* attributes,
                         unsigned attributeCount) {
  Entry e = Enter(ctx, "vaCreateSurfaces");
  if (e.fault) return e.fault;
  std::uint32_t fourcc = format == VA_RT_FORMAT_YUV420  ? VA_FOURCC_NV12
                         : format == VA_RT_FORMAT_RGB32 ? VA_FOURCC_BGRA
                                                        : 0;
  for (unsigned i = 0; i < attributeCount; ++i) {
    const VASurfaceAttrib& a = attributes[i];
    if ((a.flags & VA_SURFACE_ATTRIB_SETTABLE) == 0) continue;
    if (a.type == VASurfaceAttribPixelFormat) fourcc = static_cast<std::uint32_t>(a.value.value.i);
    if (a.type == VASurfaceAttribMemoryType && a.value.value.i != VA_SURFACE_ATTRIB_MEM_TYPE_VA)
      return VA_STATUS_ERROR_UNSUPPORTED_MEMORY_TYPE;
  }
  const bool fits = (format == VA_RT_FORMAT_YUV420 && fourcc == VA_FOURCC_NV12) ||
                    (format == VA_RT_FORMAT_RGB32 && IsRgb(fourcc));
  Layout layout;
  if (!fits) return VA_STATUS_ERROR_UNSUPPORTED_RT_FORMAT;
  if (!LayoutOf(fourcc, static_cast<int>(width), static_cast<int>(height), &layout))
    return VA_STATUS_ERROR_RESOLUTION_NOT_SUPPORTED;
  // surface.c vlVaHandleSurfaceAllocate: NV12, the preferred format, keeps the interlaced layout.
  const bool interlaced = e.driver.personality->interlacedNv12 && fourcc == VA_FOURCC_NV12;
  for (unsigned i = 0; i < count; ++i) {
    surfaces[i] = e.driver.NewId(kSurfaceIds);
    e.driver.surfaces.emplace(
        surfaces[i], SurfaceObject{layout, std::make_shared<std::vector<std::uint8_t>>(layout.size),
                                   interlaced});
    ++e.control.live.surfaces;
  }
  return VA_STATUS_SUCCESS;
}

VAStatus DestroySurfaces(VADriverContextP ctx, VASurfaceID* surfaces, int count) {
  Entry e = Enter(ctx, "vaDestroySurfaces");
  if (e.fault) return e.fault;
  for (int i = 0; i < count; ++i)
    if (const VAStatus s = Erase(e.driver.surfaces, surfaces[i], e.control.live.surfaces,
                                 VA_STATUS_ERROR_INVALID_SURFACE))
      return s;
  return VA_STATUS_SUCCESS;
}

VAStatus SyncSurface(VADriverContextP ctx, VASurfaceID surface) {
  Entry e = Enter(ctx, "vaSyncSurface");
  if (e.fault) return e.fault;
  return Find(e.driver.surfaces, surface) != nullptr ? VA_STATUS_SUCCESS
                                                     : VA_STATUS_ERROR_INVALID_SURFACE;
}

VAStatus SyncBufferEntry(VADriverContextP ctx, VABufferID buffer, std::uint64_t timeout) {
  Entry e = Enter(ctx, "vaSyncBuffer");
  if (e.fault) return e.fault;
  if (e.driver.personality->syncBuffer == SyncBuffer::MesaAsync) {
    if (timeout == 0) return VA_STATUS_ERROR_TIMEDOUT;
    if (timeout != VA_TIMEOUT_INFINITE) return VA_STATUS_ERROR_UNIMPLEMENTED;
  }
  return Find(e.driver.buffers, buffer) != nullptr ? VA_STATUS_SUCCESS
                                                   : VA_STATUS_ERROR_INVALID_BUFFER;
}

VAStatus QuerySurfaceStatus(VADriverContextP ctx, VASurfaceID surface, VASurfaceStatus* status) {
  Entry e = Enter(ctx, "vaQuerySurfaceStatus");
  if (e.fault) return e.fault;
  if (Find(e.driver.surfaces, surface) == nullptr) return VA_STATUS_ERROR_INVALID_SURFACE;
  *status = VASurfaceReady;
  return VA_STATUS_SUCCESS;
}

// ---- buffers

VABufferID NewBuffer(Entry& e, VABufferType type, unsigned size, unsigned elements) {
  const VABufferID id = e.driver.NewId(kBufferIds);
  BufferObject buffer{type,
                      std::make_shared<std::vector<std::uint8_t>>(std::size_t{size} * elements)};
  buffer.size = size;
  buffer.elements = elements;
  e.driver.buffers.emplace(id, std::move(buffer));
  ++e.control.live.buffers;
  return id;
}

VAStatus CreateBuffer(VADriverContextP ctx, VAContextID context, VABufferType type, unsigned size,
                      unsigned elements, void* data, VABufferID* id) {
  Entry e = Enter(ctx, "vaCreateBuffer");
  if (e.fault) return e.fault;
  if (Find(e.driver.contexts, context) == nullptr) return VA_STATUS_ERROR_INVALID_CONTEXT;
  const std::size_t bytes = static_cast<std::size_t>(size) * elements;
  if (bytes == 0 || bytes > (1u << 30)) return VA_STATUS_ERROR_INVALID_PARAMETER;
  *id = NewBuffer(e, type, size, elements);
  if (data != nullptr && type != VAEncCodedBufferType)
    std::memcpy(e.driver.buffers.at(*id).storage->data(), data, bytes);
  return VA_STATUS_SUCCESS;
}

VAStatus BufferInfo(VADriverContextP ctx, VABufferID id, VABufferType* type, unsigned* size,
                    unsigned* elements) {
  Entry e = Enter(ctx, "vaBufferInfo");
  if (e.fault) return e.fault;
  const BufferObject* buffer = Find(e.driver.buffers, id);
  if (buffer == nullptr) return VA_STATUS_ERROR_INVALID_BUFFER;
  *type = buffer->type;
  *size = buffer->size;
  *elements = buffer->elements;
  return VA_STATUS_SUCCESS;
}

VAStatus MapBuffer(VADriverContextP ctx, VABufferID id, void** address) {
  Entry e = Enter(ctx, "vaMapBuffer");
  if (e.fault) return e.fault;
  BufferObject* buffer = Find(e.driver.buffers, id);
  if (buffer == nullptr) return VA_STATUS_ERROR_INVALID_BUFFER;
  if (buffer->type != VAEncCodedBufferType) {
    *address = buffer->storage->data();
    return VA_STATUS_SUCCESS;
  }
  buffer->segment = VACodedBufferSegment{};
  buffer->segment.size = static_cast<std::uint32_t>(buffer->codedSize);
  buffer->segment.buf = buffer->storage->data();
  *address = &buffer->segment;
  return VA_STATUS_SUCCESS;
}

VAStatus UnmapBuffer(VADriverContextP ctx, VABufferID id) {
  Entry e = Enter(ctx, "vaUnmapBuffer");
  if (e.fault) return e.fault;
  return Find(e.driver.buffers, id) != nullptr ? VA_STATUS_SUCCESS : VA_STATUS_ERROR_INVALID_BUFFER;
}

VAStatus DestroyBuffer(VADriverContextP ctx, VABufferID id) {
  Entry e = Enter(ctx, "vaDestroyBuffer");
  if (e.fault) return e.fault;
  const BufferObject* buffer = Find(e.driver.buffers, id);
  if (buffer == nullptr || buffer->ofImage) return VA_STATUS_ERROR_INVALID_BUFFER;
  e.driver.buffers.erase(id);
  --e.control.live.buffers;
  return VA_STATUS_SUCCESS;
}

// ---- images

VAImageFormat FormatOf(std::uint32_t fourcc) {
  VAImageFormat f{};
  f.fourcc = fourcc;
  f.byte_order = VA_LSB_FIRST;
  if (!IsRgb(fourcc)) {
    f.bits_per_pixel = fourcc == VA_FOURCC_NV12 || fourcc == VA_FOURCC_NV21 ||
                               fourcc == VA_FOURCC_I420 || fourcc == VA_FOURCC_YV12
                           ? 12
                       : fourcc == VA_FOURCC_P010 || fourcc == VA_FOURCC_P016 ? 24
                                                                              : 16;
    return f;
  }
  f.bits_per_pixel = 32;
  const bool alpha =
      fourcc == VA_FOURCC_BGRA || fourcc == VA_FOURCC_RGBA || fourcc == VA_FOURCC_ARGB;
  f.depth = alpha ? 32 : 24;
  // Masks of the little-endian word the four bytes make.
  const bool redFirst = fourcc == VA_FOURCC_RGBA || fourcc == VA_FOURCC_RGBX;
  f.red_mask = redFirst ? 0x000000FF : fourcc == VA_FOURCC_ARGB ? 0x0000FF00 : 0x00FF0000;
  f.green_mask = fourcc == VA_FOURCC_ARGB ? 0x00FF0000 : 0x0000FF00;
  f.blue_mask = redFirst ? 0x00FF0000 : fourcc == VA_FOURCC_ARGB ? 0xFF000000 : 0x000000FF;
  f.alpha_mask = !alpha ? 0 : fourcc == VA_FOURCC_ARGB ? 0x000000FF : 0xFF000000;
  return f;
}

VAStatus QueryImageFormats(VADriverContextP ctx, VAImageFormat* list, int* count) {
  Entry e = Enter(ctx, "vaQueryImageFormats");
  if (e.fault) return e.fault;
  int n = 0;
  for (std::uint32_t fourcc : e.driver.personality->imageFormats) list[n++] = FormatOf(fourcc);
  *count = n;
  return VA_STATUS_SUCCESS;
}

VAImage NewImage(Entry& e, const Layout& layout, Storage storage) {
  VAImage image{};
  image.image_id = e.driver.NewId(kImageIds);
  image.format = FormatOf(layout.fourcc);
  image.buf = e.driver.NewId(kBufferIds);
  BufferObject buffer{VAImageBufferType, std::move(storage), true};
  buffer.size = static_cast<unsigned>(layout.size);
  e.driver.buffers.emplace(image.buf, std::move(buffer));
  image.width = static_cast<std::uint16_t>(layout.width);
  image.height = static_cast<std::uint16_t>(layout.height);
  image.data_size = static_cast<std::uint32_t>(layout.size);
  image.num_planes = layout.planes;
  std::copy(std::begin(layout.pitches), std::end(layout.pitches), image.pitches);
  std::copy(std::begin(layout.offsets), std::end(layout.offsets), image.offsets);
  e.driver.images.emplace(image.image_id, image);
  ++e.control.live.images;
  ++e.control.live.buffers;
  return image;
}

VAStatus CreateImage(VADriverContextP ctx, VAImageFormat* format, int width, int height,
                     VAImage* image) {
  Entry e = Enter(ctx, "vaCreateImage");
  if (e.fault) return e.fault;
  Layout layout;
  if (!LayoutOf(format->fourcc, width, height, &layout))
    return VA_STATUS_ERROR_INVALID_IMAGE_FORMAT;
  *image = NewImage(e, layout, std::make_shared<std::vector<std::uint8_t>>(layout.size));
  return VA_STATUS_SUCCESS;
}

VAStatus DeriveImage(VADriverContextP ctx, VASurfaceID surface, VAImage* image) {
  Entry e = Enter(ctx, "vaDeriveImage");
  if (e.fault) return e.fault;
  const SurfaceObject* s = Find(e.driver.surfaces, surface);
  if (s == nullptr) return VA_STATUS_ERROR_INVALID_SURFACE;
  // image.c vlVaDeriveImage: an interlaced surface only for the programs it names.
  const std::string_view program = program_invocation_short_name;
  if (s->interlaced && program != "vlc" && program != "h264encode" && program != "hevcencode")
    return VA_STATUS_ERROR_OPERATION_FAILED;
  *image = NewImage(e, s->layout, s->storage);
  return VA_STATUS_SUCCESS;
}

VAStatus DestroyImage(VADriverContextP ctx, VAImageID id) {
  Entry e = Enter(ctx, "vaDestroyImage");
  if (e.fault) return e.fault;
  const VAImage* image = Find(e.driver.images, id);
  if (image == nullptr) return VA_STATUS_ERROR_INVALID_IMAGE;
  e.driver.buffers.erase(image->buf);
  e.driver.images.erase(id);
  --e.control.live.images;
  --e.control.live.buffers;
  return VA_STATUS_SUCCESS;
}

// The surface and the image of its format that a get or put copies between, with the image's
// layout and pixels.
VAStatus SurfaceAndImage(Entry& e, VASurfaceID surface, VAImageID id, const SurfaceObject** s,
                         Layout* layout, Storage* storage) {
  *s = Find(e.driver.surfaces, surface);
  if (*s == nullptr) return VA_STATUS_ERROR_INVALID_SURFACE;
  const VAImage* image = Find(e.driver.images, id);
  if (image == nullptr || !LayoutOf(image->format.fourcc, image->width, image->height, layout))
    return VA_STATUS_ERROR_INVALID_IMAGE;
  if (layout->fourcc != (*s)->layout.fourcc) return VA_STATUS_ERROR_INVALID_IMAGE_FORMAT;
  *storage = e.driver.buffers.at(image->buf).storage;
  return VA_STATUS_SUCCESS;
}

VAStatus GetImage(VADriverContextP ctx, VASurfaceID surface, int x, int y, unsigned width,
                  unsigned height, VAImageID id) {
  Entry e = Enter(ctx, "vaGetImage");
  if (e.fault) return e.fault;
  const SurfaceObject* s;
  Layout layout;
  Storage storage;
  if (const VAStatus status = SurfaceAndImage(e, surface, id, &s, &layout, &storage)) return status;
  if (!Inside(s->layout, x, y, width, height) || !Inside(layout, 0, 0, width, height))
    return VA_STATUS_ERROR_INVALID_PARAMETER;
  CopyRect(s->layout, s->storage->data(), x, y, layout, storage->data(), 0, 0,
           static_cast<int>(width), static_cast<int>(height));
  return VA_STATUS_SUCCESS;
}

VAStatus PutImage(VADriverContextP ctx, VASurfaceID surface, VAImageID id, int sx, int sy,
                  unsigned sw, unsigned sh, int dx, int dy, unsigned dw, unsigned dh) {
  Entry e = Enter(ctx, "vaPutImage");
  if (e.fault) return e.fault;
  const SurfaceObject* s;
  Layout layout;
  Storage storage;
  if (const VAStatus status = SurfaceAndImage(e, surface, id, &s, &layout, &storage)) return status;
  if (sw != dw || sh != dh) return VA_STATUS_ERROR_UNIMPLEMENTED;  // no scaling here
  if (!Inside(layout, sx, sy, sw, sh) || !Inside(s->layout, dx, dy, dw, dh))
    return VA_STATUS_ERROR_INVALID_PARAMETER;
  CopyRect(layout, storage->data(), sx, sy, s->layout, s->storage->data(), dx, dy,
           static_cast<int>(sw), static_cast<int>(sh));
  return VA_STATUS_SUCCESS;
}

// ---- contexts and pictures

VAStatus CreateContext(VADriverContextP ctx, VAConfigID config, int width, int height, int,
                       VASurfaceID* targets, int targetCount, VAContextID* id) {
  Entry e = Enter(ctx, "vaCreateContext");
  if (e.fault) return e.fault;
  const ConfigObject* c = Find(e.driver.configs, config);
  if (c == nullptr) return VA_STATUS_ERROR_INVALID_CONFIG;
  const Personality& p = *e.driver.personality;
  if (width <= 0 || height <= 0 ||
      (IsEncode(c->entrypoint) && (width > p.maxWidth || height > p.maxHeight)))
    return VA_STATUS_ERROR_RESOLUTION_NOT_SUPPORTED;
  for (int i = 0; i < targetCount; ++i)
    if (Find(e.driver.surfaces, targets[i]) == nullptr) return VA_STATUS_ERROR_INVALID_SURFACE;
  *id = e.driver.NewId(kContextIds);
  ContextObject context;
  context.config = config;
  context.width = width;
  context.height = height;
  e.driver.contexts.emplace(*id, std::move(context));
  ++e.control.live.contexts;
  return VA_STATUS_SUCCESS;
}

VAStatus DestroyContext(VADriverContextP ctx, VAContextID id) {
  Entry e = Enter(ctx, "vaDestroyContext");
  return e.fault ? e.fault
                 : Erase(e.driver.contexts, id, e.control.live.contexts,
                         VA_STATUS_ERROR_INVALID_CONTEXT);
}

VAStatus BeginPicture(VADriverContextP ctx, VAContextID id, VASurfaceID target) {
  Entry e = Enter(ctx, "vaBeginPicture");
  if (e.fault) return e.fault;
  ContextObject* c = Find(e.driver.contexts, id);
  if (c == nullptr) return VA_STATUS_ERROR_INVALID_CONTEXT;
  if (Find(e.driver.surfaces, target) == nullptr) return VA_STATUS_ERROR_INVALID_SURFACE;
  if (c->inPicture) return VA_STATUS_ERROR_OPERATION_FAILED;
  c->inPicture = true;
  c->target = target;
  c->pending.clear();
  return VA_STATUS_SUCCESS;
}

VAStatus RenderPicture(VADriverContextP ctx, VAContextID id, VABufferID* buffers, int count) {
  Entry e = Enter(ctx, "vaRenderPicture");
  if (e.fault) return e.fault;
  ContextObject* c = Find(e.driver.contexts, id);
  if (c == nullptr) return VA_STATUS_ERROR_INVALID_CONTEXT;
  if (!c->inPicture) return VA_STATUS_ERROR_OPERATION_FAILED;
  const ConfigObject* config = Find(e.driver.configs, c->config);
  const bool mesa = e.driver.personality->mesaConfig && config != nullptr;
  for (int i = 0; i < count; ++i) {
    const BufferObject* buffer = Find(e.driver.buffers, buffers[i]);
    if (buffer == nullptr) return VA_STATUS_ERROR_INVALID_BUFFER;
    if (buffer->type == VAEncPackedHeaderParameterBufferType)
      c->packedType =
          Buffer{buffer->type, *buffer->storage}.As<VAEncPackedHeaderParameterBuffer>().type;
    // picture.c handleVAEncPackedHeaderParameterBufferType / ...DataBufferType: HEVC sequence
    // headers only.
    if (mesa &&
        (buffer->type == VAEncPackedHeaderParameterBufferType ||
         buffer->type == VAEncPackedHeaderDataBufferType) &&
        (!IsHevc(config->profile) || c->packedType != VAEncPackedHeaderSequence))
      return VA_STATUS_ERROR_UNIMPLEMENTED;
    c->pending.push_back(Buffer{buffer->type, *buffer->storage});
  }
  return VA_STATUS_SUCCESS;
}

// FNV-1a over the picture's NV12 samples within its size: names the pixels in the payload.
std::uint32_t Checksum(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t hash = 2166136261u;
  for (std::uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
  return hash;
}

std::vector<std::uint8_t> VisibleNv12(const SurfaceObject& s) {
  const Layout& l = s.layout;
  std::vector<std::uint8_t> out;
  const std::size_t width = static_cast<std::size_t>(l.width),
                    chromaWidth = static_cast<std::size_t>(Align(l.width, 2));
  out.reserve(width * l.height + chromaWidth * ((l.height + 1) / 2));
  for (int y = 0; y < l.height; ++y) {
    const std::uint8_t* row =
        s.storage->data() + l.offsets[0] + static_cast<std::size_t>(y) * l.pitches[0];
    out.insert(out.end(), row, row + width);
  }
  for (int y = 0; y < (l.height + 1) / 2; ++y) {
    const std::uint8_t* row =
        s.storage->data() + l.offsets[1] + static_cast<std::size_t>(y) * l.pitches[1];
    out.insert(out.end(), row, row + chromaWidth);
  }
  return out;
}

enum class SliceKind { I, P, B };  // in the order of the delimiters' picture types

// The start of a slice NAL unit: its header when the encoder gave none, then the first fields of a
// slice header (first slice of the picture, its type, parameter set 0), then a line of text.
void AppendSlice(std::vector<std::uint8_t>& out, bool hevc, bool idr, SliceKind kind,
                 bool ownHeader, std::size_t picture, std::uint32_t checksum) {
  if (ownHeader) {
    out.insert(out.end(), {0, 0, 0, 1});
    if (hevc) {
      out.push_back(static_cast<std::uint8_t>((idr ? 19 : 1) << 1));  // IDR_W_RADL or TRAIL_R
      out.push_back(1);
      out.push_back(idr ? 0xB0 : 0xE0);
    } else {
      out.push_back(static_cast<std::uint8_t>((kind == SliceKind::B ? 0 : 3) << 5 | (idr ? 5 : 1)));
      switch (kind) {
        case SliceKind::I: out.insert(out.end(), {0x88, 0xC0}); break;  // slice_type 7
        case SliceKind::P: out.push_back(0x9B); break;                  // slice_type 5
        case SliceKind::B: out.push_back(0x9F); break;                  // slice_type 6
      }
    }
  }
  char text[96];
  const int n = std::snprintf(text, sizeof text, "corvantis test driver picture %zu fnv1a %08x",
                              picture, static_cast<unsigned>(checksum));
  out.insert(out.end(), text, text + n);
}

SliceKind KindOf(const Buffer& slice, bool hevc) {
  const int type = hevc ? slice.As<VAEncSliceParameterBufferHEVC>().slice_type
                        : slice.As<VAEncSliceParameterBufferH264>().slice_type;
  // H.264 numbers P 0, B 1, I 2; HEVC B 0, P 1, I 2.
  return type % 5 == 2                        ? SliceKind::I
         : (hevc ? type == 0 : type % 5 == 1) ? SliceKind::B
                                              : SliceKind::P;
}

// What Mesa keeps of the picture's buffers for its header writer: the latest sequence, picture
// and first slice parameters, and the conformance window of a packed SPS.
void UpdateHeaderInput(ContextObject& c, const ConfigObject& config, bool idr) {
  HeaderInput& h = c.headers;
  const bool hevc = IsHevc(config.profile);
  h.profile = config.profile;
  h.width = c.width;
  h.height = c.height;
  h.idr = idr;
  h.rateControlNone = config.rateControl == 0 || config.rateControl == VA_RC_CQP;
  bool firstSlice = true;
  for (const Buffer& b : c.pending) {
    switch (b.type) {
      case VAEncSequenceParameterBufferType:
        if (hevc)
          h.hevc = b.As<VAEncSequenceParameterBufferHEVC>();
        else
          h.h264 = b.As<VAEncSequenceParameterBufferH264>();
        break;
      case VAEncPictureParameterBufferType:
        if (hevc)
          h.hevcPicture = b.As<VAEncPictureParameterBufferHEVC>();
        else
          h.h264Picture = b.As<VAEncPictureParameterBufferH264>();
        break;
      case VAEncSliceParameterBufferType:
        if (!firstSlice) break;
        firstSlice = false;
        if (hevc) h.hevcSlice = b.As<VAEncSliceParameterBufferHEVC>();
        h.pictureType = idr ? 0 : static_cast<int>(KindOf(b, hevc));
        break;
      case VAEncPackedHeaderDataBufferType:
        if (hevc)
          if (const auto window = PackedConformanceWindow(b.bytes)) h.conformanceWindow = window;
        break;
      default: break;
    }
  }
}

VAStatus EncodePicture(Entry& e, ContextObject& c, const ConfigObject& config) {
  SurfaceObject* input = Find(e.driver.surfaces, c.target);
  if (input == nullptr || input->layout.fourcc != VA_FOURCC_NV12)
    return VA_STATUS_ERROR_INVALID_SURFACE;
  const bool hevc = IsHevc(config.profile);
  const auto params = std::find_if(c.pending.begin(), c.pending.end(), [](const Buffer& b) {
    return b.type == VAEncPictureParameterBufferType;
  });
  if (params == c.pending.end()) return VA_STATUS_ERROR_INVALID_PARAMETER;
  VABufferID codedId;
  bool idr;
  const auto read = [&](const auto& p) {
    codedId = p.coded_buf;
    idr = p.pic_fields.bits.idr_pic_flag != 0;
  };
  hevc ? read(params->As<VAEncPictureParameterBufferHEVC>())
       : read(params->As<VAEncPictureParameterBufferH264>());
  BufferObject* coded = Find(e.driver.buffers, codedId);
  if (coded == nullptr || coded->type != VAEncCodedBufferType)
    return VA_STATUS_ERROR_INVALID_BUFFER;

  Control& control = e.control;
  const std::size_t index = static_cast<std::size_t>(Count(control, "encoded picture") - 1);
  std::vector<std::uint8_t> pixels;
  if (control.work) pixels = VisibleNv12(*input);
  const std::uint32_t checksum = control.work ? Checksum(pixels) : 0;
  const HeaderWriter writer = e.driver.personality->headers;
  std::vector<std::uint8_t> out;
  if (writer != HeaderWriter::Packed) {
    UpdateHeaderInput(c, config, idr);
    out = FirmwareHeaders(writer, c.headers);
  }
  std::uint32_t headerType = 0, headerBits = 0;
  bool afterSliceHeader = false;
  for (const Buffer& b : c.pending) {
    if (writer != HeaderWriter::Packed && b.type != VAEncSliceParameterBufferType) continue;
    if (b.type == VAEncPackedHeaderParameterBufferType) {
      const auto h = b.As<VAEncPackedHeaderParameterBuffer>();
      headerType = h.type;
      headerBits = h.bit_length;
    } else if (b.type == VAEncPackedHeaderDataBufferType) {
      const std::size_t bytes = std::min<std::size_t>((headerBits + 7) / 8, b.bytes.size());
      out.insert(out.end(), b.bytes.begin(), b.bytes.begin() + static_cast<std::ptrdiff_t>(bytes));
      afterSliceHeader = headerType == VAEncPackedHeaderSlice;
    } else if (b.type == VAEncSliceParameterBufferType) {
      AppendSlice(out, hevc, idr, KindOf(b, hevc), !afterSliceHeader, index, checksum);
      afterSliceHeader = false;
    }
  }
  std::vector<std::uint8_t>& storage = *coded->storage;
  coded->codedSize = std::min(out.size(), storage.size());
  std::copy_n(out.begin(), coded->codedSize, storage.begin());
  const FaultPlan& plan = control.faults;
  if (static_cast<int>(index) >= plan.codedBufferFromPicture) {
    if (plan.codedBuffer == CodedBufferFault::Empty) coded->codedSize = 0;
    if (plan.codedBuffer == CodedBufferFault::ClaimsMore) coded->codedSize = storage.size() + 4096;
  }
  if (control.work) {
    const Layout& l = input->layout;
    control.record.pictures.push_back(Picture{
        config.profile, config.entrypoint, c.width, c.height, l.width, l.height, c.pending,
        control.recordPixels ? std::move(pixels) : std::vector<std::uint8_t>{},
        std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                 out.size(), storage.size())))});
  }
  return VA_STATUS_SUCCESS;
}

struct Rgb {
  double r, g, b;
};

Rgb PixelOf(std::uint32_t fourcc, const std::uint8_t* p) {
  switch (fourcc) {
    case VA_FOURCC_RGBA:
    case VA_FOURCC_RGBX: return {double(p[0]), double(p[1]), double(p[2])};
    case VA_FOURCC_ARGB: return {double(p[1]), double(p[2]), double(p[3])};
    default: return {double(p[2]), double(p[1]), double(p[0])};
  }
}

// NV12 from 4-byte RGB over the size both share. `luma(c)` gives the byte of one pixel,
// `chroma(c)` its Cb and Cr terms, summed over the 2x2 block a chroma pair stands for, and
// `chromaByte(sum, n)` the byte of a sum of n terms.
template <class Luma, class Chroma, class ChromaByte>
void WriteNv12(const SurfaceObject& from, SurfaceObject& to, Luma luma, Chroma chroma,
               ChromaByte chromaByte) {
  const Layout& f = from.layout;
  const Layout& t = to.layout;
  const int width = std::min(f.width, t.width), height = std::min(f.height, t.height);
  auto sample = [&](int x, int y) {
    return PixelOf(f.fourcc, from.storage->data() + f.offsets[0] +
                                 static_cast<std::size_t>(y) * f.pitches[0] + 4 * x);
  };
  std::uint8_t* out = to.storage->data();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      out[t.offsets[0] + static_cast<std::size_t>(y) * t.pitches[0] + x] = luma(sample(x, y));
  for (int y = 0; y < height; y += 2)
    for (int x = 0; x < width; x += 2) {
      double cb = 0, cr = 0;
      int n = 0;
      for (int dy = 0; dy < 2 && y + dy < height; ++dy)
        for (int dx = 0; dx < 2 && x + dx < width; ++dx, ++n) {
          const auto [b, r] = chroma(sample(x + dx, y + dy));
          cb += b;
          cr += r;
        }
      std::uint8_t* uv = out + t.offsets[1] + static_cast<std::size_t>(y / 2) * t.pitches[1] + x;
      uv[0] = chromaByte(cb, n);
      uv[1] = chromaByte(cr, n);
    }
}

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// vl_csc.c bt_709_rev, the one matrix vl_compositor.c set_rgb_to_yuv_layer renders RGB with:
// rows Y, Cb, Cr of coefficients for R, G, B in 0..1 and the offset.
constexpr double kMesaRgbToYuv[3][4] = {
    {0.183, 0.614, 0.062, 0.0625}, {-0.101, -0.338, 0.439, 0.5}, {0.439, -0.399, -0.040, 0.5}};

// Mesa's compositor: BT.709 limited range whatever the pipeline asks, chroma sampled between the
// four pixels it stands for.
void MesaProcessToNv12(const SurfaceObject& from, SurfaceObject& to) {
  auto apply = [](const double(&row)[4], Rgb c) {
    return row[0] * c.r / 255 + row[1] * c.g / 255 + row[2] * c.b / 255 + row[3];
  };
  WriteNv12(
      from, to, [&](Rgb c) { return Byte(255 * apply(kMesaRgbToYuv[0], c)); },
      [&](Rgb c) { return std::pair(apply(kMesaRgbToYuv[1], c), apply(kMesaRgbToYuv[2], c)); },
      [](double sum, int n) { return Byte(255 * (sum / n)); });
}

// BGRA (or another 4-byte RGB) to NV12 with the matrix and ranges the pipeline names, each chroma
// sample the mean of its 2x2 block.
void ProcessToNv12(const SurfaceObject& from, SurfaceObject& to,
                   const VAProcPipelineParameterBuffer& pipeline) {
  const bool bt709 = pipeline.output_color_standard == VAProcColorStandardBT709;
  const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114, kg = 1 - kr - kb;
  const bool inputReduced = pipeline.input_color_properties.color_range == VA_SOURCE_RANGE_REDUCED;
  const bool outputFull = pipeline.output_color_properties.color_range == VA_SOURCE_RANGE_FULL;
  const double lumaScale = outputFull ? 255 : 219, lumaOffset = outputFull ? 0 : 16,
               chromaScale = outputFull ? 255 : 224;
  auto normal = [&](Rgb c) {
    for (double* v : {&c.r, &c.g, &c.b})
      *v = inputReduced ? std::clamp((*v - 16) / 219, 0.0, 1.0) : *v / 255;
    return c;
  };
  WriteNv12(
      from, to,
      [&](Rgb c) {
        c = normal(c);
        return Byte(lumaOffset + lumaScale * (kr * c.r + kg * c.g + kb * c.b));
      },
      [&](Rgb c) {
        c = normal(c);
        const double luma = kr * c.r + kg * c.g + kb * c.b;
        return std::pair((c.b - luma) / (2 * (1 - kb)), (c.r - luma) / (2 * (1 - kr)));
      },
      [&](double sum, int n) { return Byte(128 + chromaScale * sum / n); });
}

VAStatus ProcessPicture(Entry& e, ContextObject& c) {
  const auto params = std::find_if(c.pending.begin(), c.pending.end(), [](const Buffer& b) {
    return b.type == VAProcPipelineParameterBufferType;
  });
  if (params == c.pending.end()) return VA_STATUS_ERROR_INVALID_PARAMETER;
  const auto pipeline = params->As<VAProcPipelineParameterBuffer>();
  const SurfaceObject* from = Find(e.driver.surfaces, pipeline.surface);
  SurfaceObject* to = Find(e.driver.surfaces, c.target);
  if (from == nullptr || to == nullptr) return VA_STATUS_ERROR_INVALID_SURFACE;
  if (!IsRgb(from->layout.fourcc) || to->layout.fourcc != VA_FOURCC_NV12)
    return VA_STATUS_ERROR_UNIMPLEMENTED;
  if (from->layout.width != to->layout.width || from->layout.height != to->layout.height)
    return VA_STATUS_ERROR_UNIMPLEMENTED;  // no scaling here
  // postproc.c vlVaPostProcBlit makes an interlaced target progressive before it writes it.
  if (e.driver.personality->processorMatrix == ProcessorMatrix::Bt709Limited)
    to->interlaced = false;
  if (!e.control.work) return VA_STATUS_SUCCESS;
  if (e.driver.personality->processorMatrix == ProcessorMatrix::Bt709Limited)
    MesaProcessToNv12(*from, *to);
  else
    ProcessToNv12(*from, *to, pipeline);
  Processed record{from->layout.width, from->layout.height, from->layout.fourcc, {}, pipeline};
  if (e.control.recordPixels) {
    const Layout& l = from->layout;
    for (int y = 0; y < l.height; ++y) {
      const std::uint8_t* row =
          from->storage->data() + l.offsets[0] + static_cast<std::size_t>(y) * l.pitches[0];
      record.input.insert(record.input.end(), row, row + 4 * static_cast<std::size_t>(l.width));
    }
  }
  e.control.record.processed.push_back(std::move(record));
  return VA_STATUS_SUCCESS;
}

VAStatus EndPicture(VADriverContextP ctx, VAContextID id) {
  Entry e = Enter(ctx, "vaEndPicture");
  if (e.fault) return e.fault;
  ContextObject* c = Find(e.driver.contexts, id);
  if (c == nullptr) return VA_STATUS_ERROR_INVALID_CONTEXT;
  if (!c->inPicture) return VA_STATUS_ERROR_OPERATION_FAILED;
  c->inPicture = false;
  const ConfigObject* config = Find(e.driver.configs, c->config);
  if (config == nullptr) return VA_STATUS_ERROR_INVALID_CONFIG;
  const VAStatus status =
      IsEncode(config->entrypoint) ? EncodePicture(e, *c, *config) : ProcessPicture(e, *c);
  c->pending.clear();
  return status;
}

VAStatus Terminate(VADriverContextP ctx) {
  Entry e = Enter(ctx, "vaTerminate");
  // Objects still alive stay counted: a real driver's GPU memory would stay taken until exit.
  delete &e.driver;
  ctx->pDriverData = nullptr;
  return VA_STATUS_SUCCESS;
}

// Any entry the driver does not have: recorded by name, so that a new call shows up at once.
template <class Function>
struct Unimplemented;
template <class... Args>
struct Unimplemented<VAStatus (*)(VADriverContextP, Args...)> {
  template <const char* Name>
  static VAStatus Call(VADriverContextP ctx, Args...) {
    auto e = Enter(ctx, Name);
    e.control.record.unimplemented.emplace_back(Name);
    return e.fault ? e.fault : VA_STATUS_ERROR_UNIMPLEMENTED;
  }
};

#define VADRIVER_UNIMPLEMENTED(entry)                                            \
  do {                                                                           \
    static constexpr char name[] = #entry;                                       \
    vtable->entry = Unimplemented<decltype(vtable->entry)>::template Call<name>; \
  } while (false)

}  // namespace
}  // namespace corvantis::vadriver

using namespace corvantis::vadriver;

extern "C" __attribute__((visibility("default"))) corvantis::vadriver::Control*
corvantis_test_driver() {
  return &TheControl();
}

extern "C" __attribute__((visibility("default"))) VAStatus __vaDriverInit_1_17(
    VADriverContextP ctx) {
  Control& control = TheControl();
  const Personality* personality;
  {
    std::lock_guard lock(control.mutex);
    const int call = Count(control, "vaInitialize");
    for (const EntryFault& f : control.faults.entries)
      if (f.entry == "vaInitialize" && f.call == call) return f.status;
    personality = FindPersonality(control.personality);
  }
  if (personality == nullptr) return VA_STATUS_ERROR_UNKNOWN;
  auto* driver = new Driver{personality, {}, {}, {}, {}, {}, 1, personality->vendor};
  ctx->pDriverData = driver;
  ctx->version_major = VA_MAJOR_VERSION;
  ctx->version_minor = VA_MINOR_VERSION;
  ctx->max_profiles = 32;
  ctx->max_entrypoints = 8;
  ctx->max_attributes = 32;
  ctx->max_image_formats = 16;
  ctx->max_subpic_formats = 1;
  ctx->max_display_attributes = 1;
  ctx->str_vendor = driver->vendor.c_str();

  VADriverVTable* vtable = ctx->vtable;
  vtable->vaTerminate = Terminate;
  vtable->vaQueryConfigProfiles = QueryConfigProfiles;
  vtable->vaQueryConfigEntrypoints = QueryConfigEntrypoints;
  vtable->vaGetConfigAttributes = GetConfigAttributes;
  vtable->vaCreateConfig = CreateConfig;
  vtable->vaDestroyConfig = DestroyConfig;
  vtable->vaQueryConfigAttributes = QueryConfigAttributes;
  vtable->vaCreateSurfaces2 = CreateSurfaces2;
  vtable->vaDestroySurfaces = DestroySurfaces;
  vtable->vaQuerySurfaceAttributes = QuerySurfaceAttributes;
  vtable->vaCreateContext = CreateContext;
  vtable->vaDestroyContext = DestroyContext;
  vtable->vaCreateBuffer = CreateBuffer;
  vtable->vaMapBuffer = MapBuffer;
  vtable->vaUnmapBuffer = UnmapBuffer;
  vtable->vaDestroyBuffer = DestroyBuffer;
  vtable->vaBeginPicture = BeginPicture;
  vtable->vaRenderPicture = RenderPicture;
  vtable->vaEndPicture = EndPicture;
  vtable->vaSyncSurface = SyncSurface;
  vtable->vaQuerySurfaceStatus = QuerySurfaceStatus;
  vtable->vaQueryImageFormats = QueryImageFormats;
  vtable->vaCreateImage = CreateImage;
  vtable->vaDeriveImage = DeriveImage;
  vtable->vaDestroyImage = DestroyImage;
  vtable->vaGetImage = GetImage;
  vtable->vaPutImage = PutImage;
  vtable->vaBufferInfo = BufferInfo;
  if (personality->syncBuffer != SyncBuffer::Missing)
    vtable->vaSyncBuffer = SyncBufferEntry;
  else
    VADRIVER_UNIMPLEMENTED(vaSyncBuffer);
  VADRIVER_UNIMPLEMENTED(vaCreateSurfaces);
  VADRIVER_UNIMPLEMENTED(vaBufferSetNumElements);
  VADRIVER_UNIMPLEMENTED(vaQuerySurfaceError);
  VADRIVER_UNIMPLEMENTED(vaPutSurface);
  VADRIVER_UNIMPLEMENTED(vaSetImagePalette);
  VADRIVER_UNIMPLEMENTED(vaQuerySubpictureFormats);
  VADRIVER_UNIMPLEMENTED(vaCreateSubpicture);
  VADRIVER_UNIMPLEMENTED(vaDestroySubpicture);
  VADRIVER_UNIMPLEMENTED(vaSetSubpictureImage);
  VADRIVER_UNIMPLEMENTED(vaSetSubpictureChromakey);
  VADRIVER_UNIMPLEMENTED(vaSetSubpictureGlobalAlpha);
  VADRIVER_UNIMPLEMENTED(vaAssociateSubpicture);
  VADRIVER_UNIMPLEMENTED(vaDeassociateSubpicture);
  VADRIVER_UNIMPLEMENTED(vaQueryDisplayAttributes);
  VADRIVER_UNIMPLEMENTED(vaGetDisplayAttributes);
  VADRIVER_UNIMPLEMENTED(vaSetDisplayAttributes);
  VADRIVER_UNIMPLEMENTED(vaLockSurface);
  VADRIVER_UNIMPLEMENTED(vaUnlockSurface);
  VADRIVER_UNIMPLEMENTED(vaGetSurfaceAttributes);
  VADRIVER_UNIMPLEMENTED(vaAcquireBufferHandle);
  VADRIVER_UNIMPLEMENTED(vaReleaseBufferHandle);
  VADRIVER_UNIMPLEMENTED(vaCreateMFContext);
  VADRIVER_UNIMPLEMENTED(vaMFAddContext);
  VADRIVER_UNIMPLEMENTED(vaMFReleaseContext);
  VADRIVER_UNIMPLEMENTED(vaMFSubmit);
  VADRIVER_UNIMPLEMENTED(vaCreateBuffer2);
  VADRIVER_UNIMPLEMENTED(vaQueryProcessingRate);
  VADRIVER_UNIMPLEMENTED(vaExportSurfaceHandle);
  VADRIVER_UNIMPLEMENTED(vaSyncSurface2);
  VADRIVER_UNIMPLEMENTED(vaCopy);
  return VA_STATUS_SUCCESS;
}
