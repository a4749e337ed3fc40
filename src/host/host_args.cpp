#include "host/host_args.h"

#include "platform/vb.h"

namespace fern::host {

bool Given(std::span<Variant> args, size_t i) { return i < args.size() && !args[i].IsMissing(); }

std::string TextOf(const Variant& v) {
  if (v.IsNull() || v.IsEmpty() || v.IsMissing()) return {};
  if (v.IsString()) return v.str();
  return vb::CStr(v);
}

std::string ArgStr(std::span<Variant> args, size_t i, const std::string& def) {
  return Given(args, i) ? TextOf(args[i]) : def;
}

int32_t ArgLong(std::span<Variant> args, size_t i, int32_t def) {
  if (!Given(args, i) || args[i].IsNull() || args[i].IsEmpty()) return def;
  return vb::CLng(args[i]);
}

double ArgDouble(std::span<Variant> args, size_t i, double def) {
  if (!Given(args, i) || args[i].IsNull() || args[i].IsEmpty()) return def;
  return vb::CDbl(args[i]);
}

bool ArgBool(std::span<Variant> args, size_t i, bool def) {
  if (!Given(args, i) || args[i].IsNull() || args[i].IsEmpty()) return def;
  return vb::CBool(args[i]);
}

void SetArg(std::span<Variant> args, size_t i, Variant value) {
  if (i < args.size()) args[i] = std::move(value);
}

}  // namespace fern::host
