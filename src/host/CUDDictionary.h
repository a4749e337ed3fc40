// One content language's dictionary of field-type labels and option texts (the web-site export
// makes one per content language). Set LCID, Folder and NotExistsString, then LoadFromFile.
// The file is "<LCID>.dic" in Folder (format in dictionary_file.h); German has none and
// answers NotExistsString throughout, as does any language without a file.
#pragma once

#include <string>

#include "host/dictionary_file.h"
#include "platform/dispatch.h"

namespace fern {

class CUDDictionary : public Dispatch {
 public:
  int32_t LCID() const { return lcid_; }
  void SetLCID(int32_t lcid) { lcid_ = lcid; }
  const std::string& Folder() const { return folder_; }
  void SetFolder(const std::string& hostPath) { folder_ = hostPath; }
  const std::string& NotExistsString() const { return notExists_; }
  void SetNotExistsString(const std::string& s) { notExists_ = s; }

  // HostError 53 naming the file when it exists but can't be read.
  void LoadFromFile();

  // column 1: a fixed word or label; 2: a field type's external label; 3: its short-exposé
  // label. NotExistsString when there is no entry (or the column is out of 1..3).
  std::string FLDART(const std::string& key, int32_t column) const;
  std::string FLDARTOP(const std::string& shortName, const std::string& option) const;

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "CUDDictionary"; }

 private:
  int32_t lcid_ = host::kGermanLcid;
  std::string folder_;
  std::string notExists_;
  host::DictionaryFile dict_;
};

}  // namespace fern
