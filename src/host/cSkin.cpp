#include "host/cSkin.h"

#include "host/host_args.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/text_file.h"

namespace fern {

const char* cSkin::DefaultStyleSheet() {
  return "QWidget { font-family: \"DejaVu Sans\"; font-size: 9pt; }\n"
         "QPushButton { padding: 4px 14px; }\n"
         "QGroupBox { font-weight: bold; }\n";
}

void cSkin::Init(int64_t, const Variant&, std::string& hostFolder) {
  std::error_code ec;
  std::filesystem::path file = ResolveHostPath(hostFolder + "\\System\\Skin\\FernDispatcher.qss");
  if (!std::filesystem::is_regular_file(file, ec)) return;
  try {
    styleSheet_ = ReadText(file);
    skinFile_ = file.string();
  } catch (const HostError&) {
  }
}

Variant cSkin::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  if (NameIs(name, "Init")) {
    CheckArgCount(args, 3, 3, name);
    std::string folder = host::ArgStr(args, 2);
    Init(host::ArgLong(args, 0), args[1], folder);
    host::SetArg(args, 2, Variant(folder));
    return {};
  }
  if (NameIs(name, "StyleSheet")) return Variant(styleSheet_);
  ThrowNoMember(name);
}

}  // namespace fern
