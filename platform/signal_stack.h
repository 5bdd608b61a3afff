#pragma once
#include <thread>
#include <utility>

namespace corvantis {

// Gives the calling thread an alternate signal stack unless it has one, so that fault handlers
// also run after a stack overflow; the stack stays for the thread's life. False when none could
// be made.
bool EnsureFaultSignalStack();

// An alternate signal stack for the calling thread while the object lives, unless the thread
// has one already; removed and freed when it goes.
class ThreadSignalStack {
 public:
  ThreadSignalStack();
  ~ThreadSignalStack();
  ThreadSignalStack(const ThreadSignalStack&) = delete;
  ThreadSignalStack& operator=(const ThreadSignalStack&) = delete;

 private:
  void* mapping_ = nullptr;
};

// How the program starts a thread: `body` runs with an alternate signal stack of its own, as
// Crashpad's InitializeSignalStackForThread gives one. Throws std::system_error as std::thread.
template <class Body>
std::thread StartThread(Body body) {
  return std::thread([body = std::move(body)]() mutable {
    const ThreadSignalStack stack;
    body();
  });
}

}  // namespace corvantis
