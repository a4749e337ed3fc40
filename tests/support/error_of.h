// For tests that check only which VB error number a call raises.
#pragma once

#include <functional>

#include "platform/host_error.h"

namespace fern::testing {

// The number of the HostError `f` throws; 0 when it returns normally. Any other exception
// passes through, so a wrong kind of failure still fails the test.
inline int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const HostError& e) {
    return e.number();
  }
  return 0;
}

}  // namespace fern::testing
