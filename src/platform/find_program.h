// Finding an outside program the way a shell would.
#pragma once

#include <string>

namespace fern {

// The program as a path: a name holding "/" as it stands, else the first executable match in
// PATH. "" when there is none.
std::string FindProgram(const std::string& program);

}  // namespace fern
