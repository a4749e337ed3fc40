#include "platform/display_path.h"

namespace fern {
namespace {

bool Opens(char c) {
  return c == ' ' || c == '\t' || c == '\'' || c == '"' || c == '(' || c == '[' || c == '=' ||
         c == '\n' || c == '\r';
}

bool Closes(char c) {
  return c == ' ' || c == '\t' || c == '\'' || c == '"' || c == ')' || c == ']' || c == ',' ||
         c == ';' || c == '\n' || c == '\r';
}

}  // namespace

std::string WithPlatformSeparators(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '/' || (i > 0 && !Opens(out[i - 1]))) continue;
    for (; i < out.size() && !Closes(out[i]); ++i)
      if (out[i] == '\\') out[i] = '/';
  }
  return out;
}

}  // namespace fern
