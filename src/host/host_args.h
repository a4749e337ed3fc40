// Argument helpers for the by-name entry points of the host classes. Host members are lenient as
// the host's were: a missing optional argument or a Null text reads as the default.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/variant.h"

namespace fern::host {

// True when argument i was passed (not absent and not the missing-argument marker).
bool Given(std::span<Variant> args, size_t i);
std::string ArgStr(std::span<Variant> args, size_t i, const std::string& def = {});
int32_t ArgLong(std::span<Variant> args, size_t i, int32_t def = 0);
double ArgDouble(std::span<Variant> args, size_t i, double def = 0);
bool ArgBool(std::span<Variant> args, size_t i, bool def = false);
// Writes back a by-reference argument when the caller passed one.
void SetArg(std::span<Variant> args, size_t i, Variant value);

// An object (a recordset field) stands for its default member's value.
Variant ValueOf(const Variant& v);

// Null and Empty give ""; everything else goes through CStr.
std::string TextOf(const Variant& v);

}  // namespace fern::host
