// Paths in texts shown to the user, in this platform's spelling.
//
// The host's paths use "\" and most of the program joins paths the host's way, so a Linux folder
// with host parts appended reads "/srv/host\system\x.exe". Messages show such a path with "/".
#pragma once

#include <string>
#include <string_view>

namespace fern {

// Every Linux path in `text` (a "/" at the start or after a blank, quote, bracket or "=", up to
// the next blank, quote, closing bracket, "," or ";") with its "\" turned into "/". Host paths
// ("C:\..."), URLs and other text stay as they are.
std::string WithPlatformSeparators(std::string_view text);

}  // namespace fern
