#include "host/CUDDictionary.h"

#include "host/host_args.h"
#include "platform/host_path.h"
#include "platform/text.h"

namespace fern {

void CUDDictionary::LoadFromFile() {
  dict_ = host::DictionaryFile{};
  if (lcid_ == host::kGermanLcid || folder_.empty()) return;
  dict_ = host::DictionaryFile::Load(host::DictionaryFileName(ResolveHostPath(folder_), lcid_));
}

std::string CUDDictionary::FLDART(const std::string& key, int32_t column) const {
  if (column < 1 || column > 3) return notExists_;
  auto it = dict_.fldart.find(text::FoldCase(key));
  if (it == dict_.fldart.end() || it->second[column - 1].empty()) return notExists_;
  return it->second[column - 1];
}

std::string CUDDictionary::FLDARTOP(const std::string& shortName, const std::string& option) const {
  auto it = dict_.fldartop.find(text::FoldCase(shortName) + '\t' + text::FoldCase(option));
  return it == dict_.fldartop.end() ? notExists_ : it->second;
}

Variant CUDDictionary::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  using namespace host;
  const bool let = (kind & (kPropLet | kPropSet)) && !(kind & (kMethod | kPropGet));
  if (NameIs(name, "LCID")) {
    if (!let) return lcid_;
    CheckArgCount(args, 1, 1, name);
    lcid_ = ArgLong(args, 0);
    return {};
  }
  if (NameIs(name, "Folder")) {
    if (!let) return Variant(folder_);
    CheckArgCount(args, 1, 1, name);
    folder_ = ArgStr(args, 0);
    return {};
  }
  if (NameIs(name, "NotExistsString")) {
    if (!let) return Variant(notExists_);
    CheckArgCount(args, 1, 1, name);
    notExists_ = ArgStr(args, 0);
    return {};
  }
  if (NameIs(name, "LoadFromFile")) {
    LoadFromFile();
    return {};
  }
  if (NameIs(name, "FLDART")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(FLDART(ArgStr(args, 0), ArgLong(args, 1)));
  }
  if (NameIs(name, "FLDARTOP")) {
    CheckArgCount(args, 2, 2, name);
    return Variant(FLDARTOP(ArgStr(args, 0), ArgStr(args, 1)));
  }
  ThrowNoMember(name);
}

}  // namespace fern
