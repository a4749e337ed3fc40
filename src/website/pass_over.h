// The site import's steps write a listing even when one of its reads fails: such an operation is
// passed over and the step goes on with its next one.
#pragma once

#include <exception>

namespace fern::website {

template <typename F>
void PassOver(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}

}  // namespace fern::website
