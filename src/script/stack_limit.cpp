#include "script/stack_limit.h"

#include <pthread.h>

#include <algorithm>

namespace fern::script {

uintptr_t StackFloor() {
  // Asked once per thread: for the main thread the system reads its maps.
  thread_local const uintptr_t floor = [] {
    uintptr_t low = 0, size = 0;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return uintptr_t{0};
    void* addr = nullptr;
    size_t bytes = 0;
    if (pthread_attr_getstack(&attr, &addr, &bytes) == 0) {
      low = reinterpret_cast<uintptr_t>(addr);
      size = bytes;
    }
    pthread_attr_destroy(&attr);
    return size == 0 ? uintptr_t{0} : low + std::min(kStackReserve, size / 2);
  }();
  return floor;
}

}  // namespace fern::script
