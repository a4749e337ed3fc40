#include "host/LanguagePack.h"

#include <map>
#include <optional>

#include "host/host_args.h"
#include "host/host_list.h"
#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/text_file.h"

namespace fern {

void LanguagePack::SetUserLCID(int32_t lcid) {
  userLcid_ = lcid;
  user_ = lcid == host::kGermanLcid || dictionaryPath_.empty()
              ? host::DictionaryFile{}
              : host::DictionaryFile::Load(
                    host::DictionaryFileName(ResolveHostPath(dictionaryPath_), lcid));
}

void LanguagePack::SetContentLCID(int32_t lcid) {
  contentLcid_ = lcid;
  content_ = lcid == host::kGermanLcid || dictionaryPath_.empty()
                 ? host::DictionaryFile{}
                 : host::DictionaryFile::Load(
                       host::DictionaryFileName(ResolveHostPath(dictionaryPath_), lcid));
}

void LanguagePack::SetDictionaryPath(const std::string& hostPath) {
  dictionaryPath_ = hostPath;
  SetUserLCID(userLcid_);
  SetContentLCID(contentLcid_);
}

std::string LanguagePack::Lookup(const std::string& german) const {
  if (user_.strings.empty()) return german;
  auto it = user_.strings.find(text::FoldCase(german));
  return it == user_.strings.end() ? german : it->second;
}

std::string LanguagePack::TranslateString(const std::string& german, const std::string& p1,
                                          const std::string& p2) const {
  std::string t = Lookup(german);
  std::string out;
  out.reserve(t.size() + p1.size() + p2.size());
  for (size_t i = 0; i < t.size();) {
    if (t.compare(i, 2, "%1") == 0) {
      out += p1;
      i += 2;
    } else if (t.compare(i, 2, "%2") == 0) {
      out += p2;
      i += 2;
    } else if (t.compare(i, 4, "%nl%") == 0) {
      out += "\r\n";
      i += 4;
    } else {
      out += t[i++];
    }
  }
  return out;
}

std::string Translate(const LanguagePack* language, const std::string& german,
                      std::initializer_list<std::string_view> params) {
  static const LanguagePack kGerman;
  // The pack replaces "%nl%"; "%1" and "%2" pass through it to be replaced here with the rest.
  const std::string t = (language ? *language : kGerman).TranslateString(german, "%1", "%2");
  std::string out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '%' && i + 1 < t.size() && t[i + 1] >= '1' && t[i + 1] <= '9') {
      const size_t n = static_cast<size_t>(t[i + 1] - '1');
      if (n < params.size()) out += params.begin()[n];
      ++i;
    } else {
      out += t[i];
    }
  }
  return out;
}

std::string LanguagePack::TranslateStringUniCode(const std::string& german) const {
  return TranslateString(german);
}

void LanguagePack::TranslateControls(ControlCaptions& form, bool) const {
  form.ForEachCaption([this](std::string& caption) { caption = TranslateString(caption); });
}

std::string LanguagePack::TranslateContent(std::string& textValue) const {
  if (!content_.content.empty()) {
    auto it = content_.content.find(text::FoldCase(textValue));
    if (it != content_.content.end()) textValue = it->second;
  }
  return textValue;
}

void LanguagePack::SetContentLanguages(const std::string& list) {
  std::string clean;
  for (char c : list) {
    if (c == ' ') continue;
    clean += c == ',' ? '|' : c;
  }
  contentLanguages_ = clean;
}

bool LanguagePack::IsContentLanguageList(std::string_view value) {
  std::string digits;
  bool blankAfterDigits = false;  // blanks may stand beside the commas, never inside a number
  for (char c : value) {
    if (c == ' ') {
      blankAfterDigits = !digits.empty();
      continue;
    }
    if (c == ',') {
      if (digits.empty() || digits.find_first_not_of('0') == std::string::npos) return false;
      digits.clear();
      blankAfterDigits = false;
    } else if (c >= '0' && c <= '9' && digits.size() < 9 && !blankAfterDigits) {
      digits += c;
    } else {
      return false;
    }
  }
  return !digits.empty() && digits.find_first_not_of('0') != std::string::npos;
}

std::vector<std::string> LanguagePack::ContentLangList() const {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= contentLanguages_.size()) {
    size_t bar = contentLanguages_.find('|', start);
    if (bar == std::string::npos) bar = contentLanguages_.size();
    if (bar > start) out.push_back(contentLanguages_.substr(start, bar - start));
    start = bar + 1;
  }
  return out;
}

std::string LanguagePack::GetCaptionFromLCID(int32_t lcid) {
  static const std::map<int32_t, const char*> names = {{1031, "Deutsch"},
                                                       {2055, "Deutsch (Schweiz)"},
                                                       {3079, "Deutsch (Österreich)"},
                                                       {1033, "English"},
                                                       {2057, "English (UK)"},
                                                       {1036, "Français"},
                                                       {1040, "Italiano"},
                                                       {1034, "Español"},
                                                       {3082, "Español"},
                                                       {1043, "Nederlands"},
                                                       {1045, "Polski"},
                                                       {1049, "Русский"},
                                                       {1055, "Türkçe"},
                                                       {1029, "Čeština"},
                                                       {1038, "Magyar"},
                                                       {1053, "Svenska"},
                                                       {1030, "Dansk"},
                                                       {1044, "Norsk"},
                                                       {1035, "Suomi"},
                                                       {2070, "Português"},
                                                       {1032, "Ελληνικά"},
                                                       {2064, "Italiano (Svizzera)"},
                                                       {4108, "Français (Suisse)"}};
  auto it = names.find(lcid);
  return it == names.end() ? "LCID " + std::to_string(lcid) : it->second;
}

Variant LanguagePack::Invoke(std::string_view name, unsigned kind, std::span<Variant> args) {
  using namespace host;
  const bool let = (kind & (kPropLet | kPropSet)) && !(kind & (kMethod | kPropGet));
  if (NameIs(name, "TranslateString")) {
    CheckArgCount(args, 1, 3, name);
    return Variant(TranslateString(ArgStr(args, 0), ArgStr(args, 1), ArgStr(args, 2)));
  }
  if (NameIs(name, "TranslateStringUniCode")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(TranslateStringUniCode(ArgStr(args, 0)));
  }
  if (NameIs(name, "TranslateControls")) {
    CheckArgCount(args, 1, 2, name);
    if (args[0].IsObject())
      if (auto* form = dynamic_cast<ControlCaptions*>(args[0].obj().get()))
        TranslateControls(*form, ArgBool(args, 1, true));
    return {};
  }
  if (NameIs(name, "TranslateContent")) {
    CheckArgCount(args, 1, 4, name);
    std::string t = ArgStr(args, 0);
    TranslateContent(t);
    SetArg(args, 0, Variant(t));
    return Variant(t);
  }
  // Properties the start-up sets and the exporters read.
  auto property = [&](const char* member, auto get, auto set) -> std::optional<Variant> {
    if (!NameIs(name, member)) return std::nullopt;
    if (!let) return Variant(get());
    CheckArgCount(args, 1, 1, name);
    set(args);
    return Variant();
  };
  if (auto v = property(
          "ContentLanguages", [&] { return contentLanguages_; },
          [&](auto a) { SetContentLanguages(ArgStr(a, 0)); }))
    return *v;
  if (auto v = property(
          "DefaultLCID", [&] { return defaultLcid_; },
          [&](auto a) { SetDefaultLCID(ArgLong(a, 0)); }))
    return *v;
  if (auto v = property(
          "ContentLCID", [&] { return contentLcid_; },
          [&](auto a) { SetContentLCID(ArgLong(a, 0)); }))
    return *v;
  if (auto v = property(
          "UserLCID", [&] { return userLcid_; }, [&](auto a) { SetUserLCID(ArgLong(a, 0)); }))
    return *v;
  if (auto v = property(
          "DictionaryPath", [&] { return dictionaryPath_; },
          [&](auto a) { SetDictionaryPath(ArgStr(a, 0)); }))
    return *v;
  if (NameIs(name, "ContentLangList"))
    return Variant(std::shared_ptr<Dispatch>(std::make_shared<HostList>(ContentLangList())));
  if (NameIs(name, "MultiContentLanguages")) return MultiContentLanguages();
  if (NameIs(name, "Enabled")) return Enabled();
  if (NameIs(name, "GetCaptionFromLCID")) {
    CheckArgCount(args, 1, 1, name);
    return Variant(GetCaptionFromLCID(ArgLong(args, 0)));
  }
  ThrowNoMember(name);
}

}  // namespace fern
