// The numbers of the transfer layer's InternalState lines. The WorkState numbers are the
// window's (core/state_events.h); the transfer control's own are services::InetControl::State.
#pragma once

#include <cstdint>

namespace fern::services::istate {

inline constexpr int16_t kDetail = 0;    // a detail for the send log
inline constexpr int16_t kFailure = -1;  // a failure of an attempt that may be retried
inline constexpr int16_t kVersion = 5;   // the transfer library's version
inline constexpr int16_t kProgress = 8;  // the share of a file sent so far
inline constexpr int16_t kCommand = 20;  // a command or a file transfer begins
inline constexpr int16_t kDone = 22;     // the last action is done

}  // namespace fern::services::istate
