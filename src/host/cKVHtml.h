// The host's HTML helper: plain text of an HTML fragment, read by libxml2's forgiving HTML parser.
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace fern {

class cKVHtml : public Dispatch {
 public:
  // Entities decoded, tags and the content of script and style dropped, block elements (p, div,
  // br, li, tr, headings) as CR LF, runs of white space as one blank, ends trimmed. Text without
  // markup comes back as it is (trimmed).
  static std::string ExtractPlainText(const std::string& html);

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cKVHtml"; }
};

}  // namespace fern
