// The state events every exporter and transfer layer raises: WorkState (a line the user sees)
// and InternalState (a detail for the send log), state first. An owner relays the events of the
// object it owns under the same names, so the window receives one stream per exporter.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace fern {

using StateHandler = std::function<void(int16_t state, const std::string& text)>;

struct StateEvents {
  StateHandler WorkState;
  StateHandler InternalState;

  void RaiseWorkState(int16_t state, const std::string& text) const {
    if (WorkState) WorkState(state, text);
  }
  void RaiseInternalState(int16_t state, const std::string& text) const {
    if (InternalState) InternalState(state, text);
  }
  // Makes this object's events arrive at `owner`'s handlers (read at raise time, so the owner
  // may connect its own handlers later).
  void RelayTo(const StateEvents& owner) {
    WorkState = [&owner](int16_t s, const std::string& t) { owner.RaiseWorkState(s, t); };
    InternalState = [&owner](int16_t s, const std::string& t) { owner.RaiseInternalState(s, t); };
  }
  // The same seen from the owner: `child` raises its events through ours.
  void Relay(StateEvents& child) const { child.RelayTo(*this); }
};

// The state codes the window distinguishes.
namespace state {
inline constexpr int16_t kInfo = 0;
inline constexpr int16_t kStepBegins = 4;
inline constexpr int16_t kRunEnd = 6;
inline constexpr int16_t kLoggedNotListed = 7;
inline constexpr int16_t kPerListing = 8;
inline constexpr int16_t kTransferBegins = 10;
inline constexpr int16_t kTransferDone = 12;
inline constexpr int16_t kScriptOutput = 14;
inline constexpr int16_t kFileUpload = 20;
inline constexpr int16_t kPictureNotice = 32;
inline constexpr int16_t kCancelled = 100;
inline constexpr int16_t kError = 102;
// From here on a state counts as an error.
inline constexpr int16_t kFirstError = kCancelled;
// States 1 to 12 are a transfer's progress, shown on the progress line when not listed.
inline constexpr int16_t kFirstTransferProgress = 1;
inline constexpr int16_t kLastTransferProgress = kTransferDone;
}  // namespace state

}  // namespace fern
