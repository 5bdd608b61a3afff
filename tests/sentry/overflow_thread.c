// Stands in for libx264: a library that starts a worker thread of its own with pthread_create
// and whose worker overflows its stack.
#include <pthread.h>
#include <stddef.h>

__attribute__((noinline)) static int OverflowLibraryStack(int depth) {
  volatile char frame[2048];
  frame[0] = (char)depth;
  if (depth == 1 << 30) return frame[0];  // never reached: the stack ends long before
  return OverflowLibraryStack(depth + 1) + frame[0];
}

static void* Worker(void* unused) {
  (void)unused;
  OverflowLibraryStack(0);
  return NULL;
}

// Starts the worker and waits for it, which never returns: the overflow ends the process.
void corvantis_overflow_on_library_thread(void) {
  pthread_t worker;
  if (pthread_create(&worker, NULL, Worker, NULL) == 0) pthread_join(worker, NULL);
}
