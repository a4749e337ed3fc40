// The host's language pack: user texts and control captions from German into the user's language,
// and the content languages of listings. German is the source language and passes unchanged; any
// other language reads "<LCID>.dic" from `DictionaryPath` (format in dictionary_file.h).
#pragma once

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/dictionary_file.h"
#include "platform/dispatch.h"

namespace fern {

// What `TranslateControls` walks: a window hands each control caption to the visitor, which
// replaces it by its translation.
class ControlCaptions {
 public:
  virtual ~ControlCaptions() = default;
  virtual void ForEachCaption(const std::function<void(std::string& caption)>& visit) = 0;
};

class LanguagePack : public Dispatch {
 public:
  LanguagePack() = default;

  // The user's language; 1031 (the default) turns translation off. Loads its dictionary from
  // DictionaryPath; HostError 53 naming the file when it can't be read.
  void SetUserLCID(int32_t lcid);
  int32_t UserLCID() const { return userLcid_; }

  // "%1" and "%2" take p1 and p2 and "%nl%" becomes CR LF, all in one pass over the translated
  // text, so a value that itself holds "%2" or "%nl%" is inserted as it is.
  std::string TranslateString(const std::string& german, const std::string& p1 = {},
                              const std::string& p2 = {}) const;
  std::string TranslateStringUniCode(const std::string& german) const;
  void TranslateControls(ControlCaptions& form, bool recurse) const;

  // Texts of the listings' content: looked up in the dictionary of ContentLCID; changes `text` in
  // place and returns it.
  std::string TranslateContent(std::string& text) const;

  // "1031|2057": the content languages, the first being the default. Blanks are dropped and ","
  // is taken as "|" too.
  void SetContentLanguages(const std::string& list);
  // The form the database settings' CONTENTLANGUAGES must have: decimal language numbers (not 0)
  // separated by commas, blanks anywhere. An inline "; comment" fails it, since the settings
  // reader keeps it as part of the value.
  static bool IsContentLanguageList(std::string_view value);
  const std::string& ContentLanguages() const { return contentLanguages_; }
  std::vector<std::string> ContentLangList() const;
  bool MultiContentLanguages() const { return ContentLangList().size() > 1; }
  // The site's language switch: on when there is more than one content language.
  bool Enabled() const { return MultiContentLanguages(); }

  int32_t DefaultLCID() const { return defaultLcid_; }
  void SetDefaultLCID(int32_t lcid) { defaultLcid_ = lcid; }
  int32_t ContentLCID() const { return contentLcid_; }
  void SetContentLCID(int32_t lcid);

  const std::string& DictionaryPath() const { return dictionaryPath_; }
  void SetDictionaryPath(const std::string& hostPath);

  // "Deutsch", "English", ...; "LCID <n>" for a language we have no name for.
  static std::string GetCaptionFromLCID(int32_t lcid);

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "LanguagePack"; }

 private:
  std::string Lookup(const std::string& german) const;

  int32_t userLcid_ = host::kGermanLcid;
  int32_t defaultLcid_ = host::kGermanLcid;
  int32_t contentLcid_ = host::kGermanLcid;
  std::string contentLanguages_ = "1031";
  std::string dictionaryPath_;
  host::DictionaryFile user_;
  host::DictionaryFile content_;
};

// The one way code translates a message: `german` in the user's language (as it stands without a
// language pack), "%1".."%9" taking the parameters and "%nl%" becoming CR LF, all in one pass,
// so a parameter that itself holds "%2" is inserted as it is. Missing parameters become "".
std::string Translate(const LanguagePack* language, const std::string& german,
                      std::initializer_list<std::string_view> params = {});

}  // namespace fern
