// The host's settings table (table DBINI): values by section and key, for the bound user or for
// the whole company. Reads take the user's row first, then the company's; writes go to the
// user's row (the company's when bound without a user).
#pragma once

#include <string>

#include "platform/dispatch.h"

namespace fern {

class cDbIni : public Dispatch {
 public:
  // Binds the object to the database and the user. Every other member raises HostError 91
  // before Init.
  void Init(const std::string& connect, const std::string& userDsn);

  std::string getStr(const std::string& section, const std::string& key,
                     const std::string& def = {}) const;
  // The value as a whole number; `def` when unset or not a number.
  int32_t getint(const std::string& section, const std::string& key, int32_t def = 0) const;
  // "1", "True", non-zero numbers are True; `def` when unset.
  bool GetBool(const std::string& section, const std::string& key, bool def = false) const;
  // The stored date (OLE serial); 0, the zero date, when unset or no date.
  double GetDate(const std::string& section, const std::string& key) const;
  void WriteStr(const std::string& section, const std::string& key, const std::string& value);

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cDbIni"; }

 private:
  // The stored value; false when neither the user nor the company has the key.
  bool Read(const std::string& section, const std::string& key, std::string& value) const;
  void CheckInit(const char* member) const;

  std::string connect_;
  std::string userDsn_;
  bool bound_ = false;
};

}  // namespace fern
