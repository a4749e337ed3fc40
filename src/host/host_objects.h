// The host objects by class name, as the start-up and scripts create them
// ("tolvastdc10.cUtil", "tolvaKVBol10.cKVUtil", ...; any letter case).
#pragma once

#include <memory>
#include <string_view>

#include "platform/dispatch.h"

namespace fern::host {

// A new object of the class; nullptr when the name is no host class. "Kavantor.Application" is
// not made here: it is the running host (KavantorApplication::GetRunning).
std::shared_ptr<Dispatch> CreateHostObject(std::string_view progId);

}  // namespace fern::host
