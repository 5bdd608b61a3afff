// Every C++ throw of the program passes here: __cxa_throw defined in the executable takes the
// place of the C++ runtime's for the executable's own code and, through the dynamic symbol table,
// for libstdc++ and libamfrt64.so, which call it through their PLT. (-Wl,--wrap would catch only
// the executable's own objects.) With a debugger attached the throw is raised as the Microsoft
// C++ exception event before it proceeds; without one it costs one cached check.
#include <dlfcn.h>
#include <sched.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <typeinfo>

#include "platform/debug_event.h"
#include "platform/debug_output.h"
#include "platform/throw_records.h"

namespace corvantis {

namespace {

inline constexpr std::uint64_t kMsvcMagic = 0x19930520;
inline constexpr std::uint32_t kNonContinuable = 1;

// Static storage, so inside the executable's image and within 32-bit offsets of its base; one
// slot per throw being raised, held until the debugger has read it.
constexpr int kSlots = 16;
ThrowRecords g_records[kSlots];
std::atomic<bool> g_busy[kSlots];

std::uintptr_t ImageBase() {
  static const std::uintptr_t base = [] {
    Dl_info info{};
    if (dladdr(static_cast<const void*>(g_records), &info) == 0 || info.dli_fbase == nullptr)
      return std::uintptr_t{0};
    const auto start = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    const auto end = reinterpret_cast<std::uintptr_t>(g_records + kSlots);
    return end > start && end - start <= UINT32_MAX ? start : std::uintptr_t{0};
  }();
  return base;
}

int AcquireSlot() noexcept {
  for (;;) {
    for (int i = 0; i < kSlots; ++i)
      if (!g_busy[i].exchange(true, std::memory_order_acquire)) return i;
    sched_yield();
  }
}

void RaiseThrowEvent(const void* object, const std::type_info& type,
                     const void* throwSite) noexcept {
  const std::uintptr_t base = ImageBase();
  if (base == 0) return;
  const int slot = AcquireSlot();
  const ThrowDescription described = DescribeThrow(type, object, base, g_records[slot]);
  DebugEventData event{};
  event.Record.ExceptionCode = EXCEPTION_MSVC_CPP;
  event.Record.ExceptionFlags = kNonContinuable;
  event.Record.ExceptionAddress = reinterpret_cast<std::uintptr_t>(throwSite);
  event.Record.NumberParameters = 4;
  event.Record.ExceptionInformation[0] = kMsvcMagic;
  event.Record.ExceptionInformation[1] = described.ObjectAddress;
  event.Record.ExceptionInformation[2] = described.ThrowInfoAddress;
  event.Record.ExceptionInformation[3] = described.ImageBase;
  RaiseDebugEvent(event);
  g_busy[slot].store(false, std::memory_order_release);
}

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

}  // namespace

// Present in AddressSanitizer builds, whose own __cxa_throw this one hides: it clears the stack
// poisoning of the frames the throw unwinds.
extern "C" void __asan_handle_no_return() __attribute__((weak));

namespace {

CxaThrow RuntimeThrow() {
  static const auto function = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
  return function;
}

}  // namespace

// Named by the link options so that this file is always linked, even where a sanitizer runtime
// already offers a (weak) __cxa_throw.
extern "C" const int corvantis_throw_events = 1;

extern "C" [[noreturn]] void __cxa_throw(void* object, std::type_info* type,
                                         void (*destroy)(void*)) {
  if (type != nullptr && DebuggerMayBePresent())
    RaiseThrowEvent(object, *type, __builtin_return_address(0));
  if (__asan_handle_no_return != nullptr) __asan_handle_no_return();
  const CxaThrow runtime = RuntimeThrow();
  if (runtime == nullptr) std::abort();
  runtime(object, type, destroy);
  __builtin_unreachable();
}

}  // namespace corvantis
