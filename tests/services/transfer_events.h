// Records what a transfer service reports, for the FTP and HTTP tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/state_events.h"

namespace fern::testing_events {

struct Event {
  bool work;  // WorkState, else InternalState
  int16_t state;
  std::string text;
};

class EventLog {
 public:
  void Attach(StateEvents& source) {
    source.WorkState = [this](int16_t s, const std::string& t) { events.push_back({true, s, t}); };
    source.InternalState = [this](int16_t s, const std::string& t) {
      events.push_back({false, s, t});
    };
  }
  std::vector<std::string> Texts(bool work, int16_t state) const {
    std::vector<std::string> out;
    for (const Event& e : events)
      if (e.work == work && e.state == state) out.push_back(e.text);
    return out;
  }
  bool Has(bool work, int16_t state, const std::string& part) const {
    for (const std::string& t : Texts(work, state))
      if (t.find(part) != std::string::npos) return true;
    return false;
  }
  bool Mentions(const std::string& part) const {
    for (const Event& e : events)
      if (e.text.find(part) != std::string::npos) return true;
    return false;
  }
  std::string Dump() const {
    std::string out;
    for (const Event& e : events)
      out += (e.work ? "W" : "I") + std::to_string(e.state) + ": " + e.text + "\n";
    return out;
  }
  std::vector<Event> events;
};

}  // namespace fern::testing_events
