// Every thread of the program gets an alternate signal stack, the libraries' threads too (the
// x264 and x265 workers start their own): pthread_create is interposed in the executable and
// exported, so that shared libraries bind to it as well. A stack overflow on any thread then
// still reaches the fault handler and its report.
#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>
#include <new>

#include "platform/signal_stack.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CORVANTIS_SANITIZED_THREADS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CORVANTIS_SANITIZED_THREADS 1
#endif

// Pulled into an executable by name (see platform/CMakeLists.txt).
extern "C" const int corvantis_thread_signal_stacks = 1;

#ifndef CORVANTIS_SANITIZED_THREADS
namespace {

using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct ThreadStart {
  void* (*Routine)(void*);
  void* Argument;
};

void* StartWithSignalStack(void* start) {
  const ThreadStart routine = *static_cast<ThreadStart*>(start);
  delete static_cast<ThreadStart*>(start);
  // Freed when the thread ends, however it ends: by returning or by pthread_exit.
  thread_local const corvantis::ThreadSignalStack stack;
  return routine.Routine(routine.Argument);
}

}  // namespace

// The sanitizers interpose pthread_create themselves; their builds keep theirs.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) {
  static const auto next = reinterpret_cast<CreateThread>(dlsym(RTLD_NEXT, "pthread_create"));
  if (next == nullptr) return EAGAIN;
  auto* start = new (std::nothrow) ThreadStart{routine, argument};
  if (start == nullptr) return EAGAIN;
  const int created = next(thread, attributes, StartWithSignalStack, start);
  if (created != 0) delete start;
  return created;
}
#endif
