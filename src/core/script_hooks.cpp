#include "core/script_hooks.h"

#include <exception>

#include "core/cScriptingV2.h"
#include "host/cUtil.h"
#include "platform/host_error.h"
#include "platform/vb.h"
#include "platform/waits.h"
#include "script/script_errors.h"

namespace fern {

namespace {
constexpr const char* kCrLf = "\r\n";
}  // namespace

HookArgs& HookArgs::Bind(Variant value, std::function<void(const Variant&)> back) {
  values_.push_back(std::move(value));
  backs_.push_back(std::move(back));
  return *this;
}

HookArgs& HookArgs::In(Variant value) { return Bind(std::move(value), {}); }

HookArgs& HookArgs::Back(std::string& var) {
  return Bind(Variant(var), [&var](const Variant& v) {
    try {
      var = cUtil::k(v);
    } catch (const std::exception&) {
      // no text form: the caller keeps its text
    }
  });
}

HookArgs& HookArgs::Back(bool& var) {
  return Bind(Variant(var), [&var](const Variant& v) { var = cUtil::b(v); });
}

HookArgs& HookArgs::Back(int32_t& var) {
  return Bind(Variant(var), [&var](const Variant& v) {
    try {
      var = vb::CLng(v);
    } catch (const std::exception&) {
      // not a whole number in range: the caller keeps its number
    }
  });
}

HookArgs& HookArgs::Back(Variant& var) {
  return Bind(var, [&var](const Variant& v) { var = v; });
}

void HookArgs::CopyBack() const {
  for (size_t i = 0; i < values_.size(); ++i)
    if (backs_[i]) backs_[i](values_[i]);
}

size_t CallConsumers(cScriptingV2* host, std::string_view method, std::vector<Variant>& args,
                     const ConsumerStep& step, const ConsumerPrepare& prepare) {
  if (!host) return 0;
  // A snapshot: a consumer that adds or removes consumers changes the next walk, not this one.
  std::vector<Variant> consumers;
  try {
    if (auto coll = host->EventsConsumers()) coll->Enumerate(consumers);
  } catch (const std::exception&) {
    consumers.clear();
  }
  size_t called = 0;
  for (const Variant& consumer : consumers) {
    const Dispatch* self = consumer.IsObject() ? consumer.obj().get() : nullptr;
    if (host->TimedOut(self, method)) continue;
    if (prepare) prepare(args);
    // The consumer works on a copy, so that a call that fails half-way leaves nothing behind.
    std::vector<Variant> working = args;
    Variant result;
    bool ok = true;
    try {
      result = CallByName(consumer, method, kMethod, working);
      args = std::move(working);
    } catch (const HostError& e) {
      ok = false;
      result = Variant();
      // A cancelled run stops its scripts the same way; that is no time-out to report.
      if (e.number() == script::kErrTimeout && !EscPressed()) host->NoteTimeout(self, method);
    } catch (const std::exception&) {
      ok = false;
      result = Variant();
    }
    ++called;
    if (step && !step(args, result, ok)) break;
  }
  host->ScriptControl().ClearError();
  return called;
}

std::string RelayFunction(cScriptingV2* host, std::string_view method, HookArgs& args) {
  std::string joined;
  if (!host) return joined;
  CallConsumers(host, method, args.Values(),
                [&](std::vector<Variant>&, const Variant& result, bool) {
                  AppendLine(joined, HookText(result));
                  return true;
                });
  args.CopyBack();
  return joined;
}

void RelayProcedure(cScriptingV2* host, std::string_view method, HookArgs& args,
                    const ProcedureSlots& slots) {
  if (!host) return;
  std::vector<Variant>& v = args.Values();
  const bool haveMessage = slots.message && *slots.message < v.size();
  if (slots.flag >= v.size()) return;

  bool callerFlag = cUtil::b(v[slots.flag]);
  if (slots.rule == FlagRule::kSticky) v[slots.flag] = Variant(false);
  std::string collected = haveMessage ? HookText(v[*slots.message]) : std::string();

  auto prepare = [&](std::vector<Variant>& a) {
    if (slots.rule == FlagRule::kLastDecides) a[slots.flag] = Variant(callerFlag);
    if (haveMessage) a[*slots.message] = Variant(std::string());
  };
  auto step = [&](std::vector<Variant>& a, const Variant&, bool ok) {
    if (!ok) return true;
    bool answer = cUtil::b(a[slots.flag]);
    callerFlag = slots.rule == FlagRule::kSticky ? (callerFlag || answer) : answer;
    if (haveMessage) PrependMessage(collected, HookText(a[*slots.message]));
    return true;
  };
  CallConsumers(host, method, v, step, prepare);

  v[slots.flag] = Variant(callerFlag);
  if (haveMessage) v[*slots.message] = Variant(collected);
  args.CopyBack();
}

void AppendLine(std::string& collected, const std::string& text) {
  if (collected.empty()) {
    collected = text;
  } else {
    collected += kCrLf;
    collected += text;
  }
}

void PrependMessage(std::string& collected, const std::string& text) {
  if (text.empty()) return;
  collected = collected.empty() ? text : text + kCrLf + collected;
}

std::string HookText(const Variant& v) {
  try {
    return cUtil::k(v);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace fern
