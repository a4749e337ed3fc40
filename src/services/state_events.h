// The two state events every transfer service raises; an owner relays its child's events under
// the same names. A handler left unset simply hears nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace fern {

struct StateEvents {
  using Handler = std::function<void(int16_t state, const std::string& text)>;

  Handler WorkState;      // user-visible lines; 100 and above count as errors
  Handler InternalState;  // log lines

 protected:
  static void Raise(const Handler& h, int16_t state, const std::string& text) {
    if (h) h(state, text);
  }
  void RaiseWorkState(int16_t state, const std::string& text) const {
    Raise(WorkState, state, text);
  }
  void RaiseInternalState(int16_t state, const std::string& text) const {
    Raise(InternalState, state, text);
  }
  // Makes `child` raise its events through ours (read at raise time, so handlers set later
  // still hear them).
  void Relay(StateEvents& child) const {
    child.WorkState = [this](int16_t s, const std::string& t) { RaiseWorkState(s, t); };
    child.InternalState = [this](int16_t s, const std::string& t) { RaiseInternalState(s, t); };
  }
};

}  // namespace fern
