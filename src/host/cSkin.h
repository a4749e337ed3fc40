// The host's window skin as a Qt style sheet. `Init` reads "System\Skin\FernDispatcher.qss" below
// the host folder, or keeps the built-in sheet when the host has none; the window applies
// `StyleSheet()` itself (no widget code below src/ui/).
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace fern {

class cSkin : public Dispatch {
 public:
  // `windowHandle` and `form` are the caller's; only the host folder is read. A skin file that
  // can't be read leaves the built-in sheet (a skin is never worth failing the start-up for).
  void Init(int64_t windowHandle, const Variant& form, std::string& hostFolder);
  const std::string& StyleSheet() const { return styleSheet_; }
  // The file the sheet came from; empty for the built-in one.
  const std::string& SkinFile() const { return skinFile_; }

  static const char* DefaultStyleSheet();

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cSkin"; }

 private:
  std::string styleSheet_ = DefaultStyleSheet();
  std::string skinFile_;
};

}  // namespace fern
