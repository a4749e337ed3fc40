// Base64 (RFC 4648, standard alphabet) on raw bytes.
#pragma once

#include <string>
#include <string_view>

namespace fern {

// No line breaks; "=" padding unless `pad` is false.
std::string Base64Encode(std::string_view bytes, bool pad = true);
// The value of one alphabet character, -1 for any other.
int Base64Value(char c);
// Padding optional; false (and `out` unspecified) for a character outside the alphabet.
bool Base64Decode(std::string_view text, std::string& out);

}  // namespace fern
