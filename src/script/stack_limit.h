// How deep the engine may recurse on this thread. Calls, the parser and the compiler all stop at
// the same floor with error 28, measured on the stack they actually have, so that code one of
// them let through can still be run, and freed, at any call depth.
#pragma once

#include <cstdint>

namespace fern::script {

// Stack kept free below the floor: enough for the deepest nesting the parser lets through to be
// compiled, run and freed on the sanitizer build, and for the built-in functions and host calls
// it makes. A thread with a smaller stack keeps half of it.
inline constexpr uintptr_t kStackReserve = uintptr_t{4} << 20;

// The lowest frame address this thread may recurse down to; 0 when its stack is unknown.
uintptr_t StackFloor();

// Whether the calling function's stack lies below `floor`. The stack pointer as it stands, not
// the frame address: asking for that makes every caller set up a frame pointer, and the
// evaluator asks on its hottest path (nor a local's address, which the sanitizer may move off
// the stack).
[[gnu::always_inline]] inline bool BelowStackFloor(uintptr_t floor) {
  uintptr_t sp;
#if defined(__x86_64__)
  asm("mov %%rsp, %0" : "=r"(sp));
#elif defined(__aarch64__)
  asm("mov %0, sp" : "=r"(sp));
#else
  sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
  return sp < floor;
}

}  // namespace fern::script
