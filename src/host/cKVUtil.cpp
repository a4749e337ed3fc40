#include "host/cKVUtil.h"

#include "host/host_args.h"
#include "platform/host_error.h"
#include "platform/host_path.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace fern {

bool cKVUtil::IsKVSignaturOn(const std::string& hostIniPath, int32_t companyNumber) const {
  std::filesystem::path ini = ResolveHostPath(hostIniPath);
  std::string v = IniGet("SIGNATUR", std::to_string(companyNumber), "", ini);
  if (v.empty()) v = IniGet("SIGNATUR", "ALLE", "0", ini);
  return std::string(text::TrimBlanks(v)) == "1";
}

void cKVUtil::GetPicFileName(int32_t index, const std::string& hostFolder, const std::string& datei,
                             const std::string& textA, const std::string& textB, std::string& path,
                             std::string& description) const {
  path.clear();
  description.clear();
  std::string base(text::TrimBlanks(datei));
  if (base.empty() || index < 0) return;
  const bool online = text::EqualsNoCase(textA, "Online") || text::EqualsNoCase(textB, "Online");
  std::string stem = hostFolder + "\\pic.obj\\" + base;
  std::string suffix = online ? "_online" : "_" + std::to_string(index);
  for (const char* ext : {"jpg", "jpeg", "png", "gif"}) {
    std::string candidate = stem + suffix + "." + ext;
    std::error_code ec;
    std::filesystem::path real = ResolveHostPath(candidate);
    if (std::filesystem::is_regular_file(real, ec)) {
      path = real.string();
      break;
    }
  }
  if (path.empty()) return;

  std::error_code ec;
  std::filesystem::path titles = ResolveHostPath(stem + ".txt");
  if (!std::filesystem::is_regular_file(titles, ec)) return;
  try {
    std::vector<std::string> lines = text::SplitLines(ReadText(titles));
    if (online) {
      for (const auto& l : lines)
        if (l.size() >= 7 && text::EqualsNoCase(l.substr(0, 7), "Online="))
          description = l.substr(7);
    } else if (static_cast<size_t>(index) < lines.size()) {
      description = lines[static_cast<size_t>(index)];
    }
  } catch (const HostError&) {
    // A title file that can't be read leaves the picture without a description.
  }
}

Variant cKVUtil::Invoke(std::string_view name, unsigned, std::span<Variant> args) {
  using namespace host;
  if (NameIs(name, "IsKVSignaturOn")) {
    CheckArgCount(args, 2, 2, name);
    return IsKVSignaturOn(ArgStr(args, 0), ArgLong(args, 1));
  }
  if (NameIs(name, "ComVersion")) return ComVersion();
  if (NameIs(name, "ComMajorVersion")) return ComMajorVersion();
  if (NameIs(name, "GetPicFileName")) {
    CheckArgCount(args, 7, 7, name);
    std::string path, description;
    GetPicFileName(ArgLong(args, 0), ArgStr(args, 1), ArgStr(args, 2), ArgStr(args, 3),
                   ArgStr(args, 4), path, description);
    SetArg(args, 5, Variant(path));
    SetArg(args, 6, Variant(description));
    return Variant(path);
  }
  ThrowNoMember(name);
}

}  // namespace fern
