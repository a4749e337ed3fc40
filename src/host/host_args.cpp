#include "host/host_args.h"

#include "platform/dispatch.h"
#include "platform/vb.h"

namespace fern::host {

bool Given(std::span<Variant> args, size_t i) { return i < args.size() && !args[i].IsMissing(); }

Variant ValueOf(const Variant& v) {
  if (v.IsObject() && !v.IsNothing()) return CallByName(v, "", kPropGet, std::vector<Variant>{});
  return v;
}

std::string TextOf(const Variant& raw) {
  Variant v = ValueOf(raw);
  if (v.IsNull() || v.IsEmpty() || v.IsMissing()) return {};
  if (v.IsString()) return v.str();
  return vb::CStr(v);
}

std::string ArgStr(std::span<Variant> args, size_t i, const std::string& def) {
  return Given(args, i) ? TextOf(args[i]) : def;
}

namespace {

// The argument's value, or nothing when it is absent, Null or Empty.
bool Present(std::span<Variant> args, size_t i, Variant& v) {
  if (!Given(args, i)) return false;
  v = ValueOf(args[i]);
  return !v.IsNull() && !v.IsEmpty();
}

}  // namespace

int32_t ArgLong(std::span<Variant> args, size_t i, int32_t def) {
  Variant v;
  return Present(args, i, v) ? vb::CLng(v) : def;
}

double ArgDouble(std::span<Variant> args, size_t i, double def) {
  Variant v;
  return Present(args, i, v) ? vb::CDbl(v) : def;
}

bool ArgBool(std::span<Variant> args, size_t i, bool def) {
  Variant v;
  return Present(args, i, v) ? vb::CBool(v) : def;
}

void SetArg(std::span<Variant> args, size_t i, Variant value) {
  if (i < args.size()) args[i] = std::move(value);
}

}  // namespace fern::host
