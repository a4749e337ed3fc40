// Why a file could not be opened, read or written, in German, for the system's error number.
#pragma once

#include <string>

namespace fern {

std::string FileErrorText(int error);

}  // namespace fern
