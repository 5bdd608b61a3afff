#include "platform/signal_stack.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>

namespace corvantis {

namespace {

struct StackSize {
  std::size_t Page;
  std::size_t Usable;
};

StackSize SignalStackSize() {
  const long minimum = sysconf(_SC_MINSIGSTKSZ);
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t wanted =
      std::max<std::size_t>(64 * 1024, static_cast<std::size_t>(std::max(minimum, 0L)) * 4);
  return {page, (wanted + page - 1) / page * page};
}

bool HasSignalStack() {
  stack_t current{};
  return sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0;
}

// The mapping (a guard page, then the stack) now in use as the thread's signal stack; nullptr
// when none could be made.
void* InstallSignalStack() {
  const StackSize size = SignalStackSize();
  // A guard page below the stack turns an overflow of the handler itself into a plain fault.
  void* mapping = mmap(nullptr, size.Usable + size.Page, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  mprotect(mapping, size.Page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(mapping) + size.Page;
  stack.ss_size = size.Usable;
  if (sigaltstack(&stack, nullptr) != 0) {
    munmap(mapping, size.Usable + size.Page);
    return nullptr;
  }
  return mapping;
}

}  // namespace

bool EnsureFaultSignalStack() { return HasSignalStack() || InstallSignalStack() != nullptr; }

ThreadSignalStack::ThreadSignalStack() {
  if (!HasSignalStack()) mapping_ = InstallSignalStack();
}

ThreadSignalStack::~ThreadSignalStack() {
  if (mapping_ == nullptr) return;
  // Off before it is unmapped, so that a late signal never lands on freed memory.
  stack_t off{};
  off.ss_flags = SS_DISABLE;
  sigaltstack(&off, nullptr);
  const StackSize size = SignalStackSize();
  munmap(mapping_, size.Usable + size.Page);
}

}  // namespace corvantis
